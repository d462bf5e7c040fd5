// The morvale command: see tool/front_end.h.
#include <clocale>
#include <cstdio>

#include "db/connection_holder.h"
#include "tool/front_end.h"

int main(int argc, char** argv) {
  // Narrow text, on the console and in the stores, is in the locale's code
  // page.
  std::setlocale(LC_ALL, "");
  ComInitializer com(COINIT_MULTITHREADED, false, false);
  FrontEnd run(stdin, stdout);
  return run.Main(argc, argv);
}
