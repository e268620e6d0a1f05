#include <iostream>
#include <string>
#include <vector>

#include "vectactl.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return vecta::ctl::Run(args, std::cout, std::cerr);
}
