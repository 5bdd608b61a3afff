#include "app/command_line.h"
#include "app/process_entry.h"

int main(int argc, char** argv) {
  return RunProcess(ArgumentListFromArgv(argc, argv), ProductionRoles());
}
