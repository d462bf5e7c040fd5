// Test support: MORVALE_ADO_PROVIDERS (platform/ado/providers.h) set for the
// life of the object and restored afterwards, so that a test decides which
// providers the machine's installed ODBC drivers serve. Null unsets it.
// The variable is process-wide: tests run on one thread while it is set.
#pragma once

#include <cstdlib>
#include <string>

class ScopedProviderMap {
 public:
  explicit ScopedProviderMap(const char* value) {
    const char* previous = std::getenv(kName);
    hadPrevious_ = previous != nullptr;
    if (hadPrevious_) previous_ = previous;
    Set(value);
  }
  ~ScopedProviderMap() { Set(hadPrevious_ ? previous_.c_str() : nullptr); }
  ScopedProviderMap(const ScopedProviderMap&) = delete;
  ScopedProviderMap& operator=(const ScopedProviderMap&) = delete;

 private:
  static constexpr const char* kName = "MORVALE_ADO_PROVIDERS";
  static void Set(const char* value) {
    if (value != nullptr) {
      setenv(kName, value, 1);
    } else {
      unsetenv(kName);
    }
  }
  bool hadPrevious_ = false;
  std::string previous_;
};

// Values for the constructor: the SQL Server providers served by the
// installed FreeTDS driver with or without the native-client ones.
inline constexpr const char* kWithNativeClient = "SQLOLEDB,SQLNCLI,SQLNCLI10:FreeTDS";
inline constexpr const char* kWithoutNativeClient =
    "SQLOLEDB:FreeTDS|SQLNCLI,SQLNCLI10:No Such Driver";
