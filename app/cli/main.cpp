#include <string>
#include <vector>

#include "app/cli/cli.h"
#include "app/registry.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const quillet::core::CommandRegistry registry = quillet::app::BuildCommandRegistry();
  return quillet::app::RunCli(args, quillet::app::Commands(), registry, stdout, stderr);
}
