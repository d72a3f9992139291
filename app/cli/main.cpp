#include <iostream>
#include <string>
#include <vector>

#include "app/cli/cli_commands.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: quillet-cli COMMAND ...\n";
    return 2;
  }
  const std::string command = argv[1];
  const std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "info") return quillet::app::RunInfo(args, std::cout, std::cerr);
  if (command == "convert") return quillet::app::RunConvert(args, std::cout, std::cerr);
  std::cerr << "quillet-cli: unknown command \"" << command << "\"\n";
  return 2;
}
