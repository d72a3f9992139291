#include <string>
#include <vector>

#include "app/cli/cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  return quillet::app::RunCli(args, quillet::app::Commands(), stdout, stderr);
}
