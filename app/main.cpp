#include "app/command_line.h"
#include "app/process_entry.h"

using namespace corvantis;

int main(int argc, char** argv) {
  return RunProcess(ArgumentListFromArgv(argc, argv), ProductionRoles());
}
