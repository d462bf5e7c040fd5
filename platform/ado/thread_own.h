// An object of the calling thread's own, made at its first use and
// destroyed when the thread ends: what this layer keeps per thread so that
// an Open or a statement costs less (a spare idle-cache node, the recent
// plans and rewrites). Open, Close and statements may run in the
// destructors of a thread's or static objects, after the thread's own
// objects are gone: ThreadOwn is then null and the caller does without.
// Any thread, each reaching only its own object.
#pragma once

namespace ado {

// `Tag` tells apart two users of objects of the same type.
template <typename T, typename Tag = T>
T* ThreadOwn() {
  // Plain values, readable until the thread's storage goes.
  thread_local T* object = nullptr;
  thread_local bool ended = false;
  struct Owner {
    ~Owner() {
      delete object;
      object = nullptr;
      ended = true;
    }
  };
  if (object == nullptr) {
    if (ended) return nullptr;
    thread_local Owner owner;  // made here, so that it is destroyed with the thread
    static_cast<void>(owner);
    object = new T();
  }
  return object;
}

}  // namespace ado
