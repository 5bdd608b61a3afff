// Stands in for the debugger child in the launcher's live test: records what it was given to the
// file named by PROBE_OUT, signals the event named by its last argument, then ends.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  const char* out = std::getenv("PROBE_OUT");
  if (out == nullptr || argc < 2) return 2;
  std::FILE* file = std::fopen(out, "w");
  if (file == nullptr) return 2;
  std::fprintf(file, "pid %d\nparent %d\n", static_cast<int>(getpid()),
               static_cast<int>(getppid()));
  for (int i = 0; i < argc; ++i) std::fprintf(file, "arg %s\n", argv[i]);
  const int event = std::atoi(argv[argc - 1]);
  struct stat info {};
  const bool pipe = fstat(event, &info) == 0 && S_ISFIFO(info.st_mode);
  std::fprintf(file, "event is a pipe %d\n", pipe ? 1 : 0);
  std::fclose(file);
  const char byte = 1;
  return pipe && write(event, &byte, 1) == 1 ? 0 : 3;
}
