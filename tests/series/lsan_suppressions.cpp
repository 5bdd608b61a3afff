
namespace corvantis {
// The series draws text, and fontconfig keeps a block of its configuration unreachable for the
// life of the process; libx265 3.5 keeps some frame-filter buffers after x265_encoder_close.
// Sanitizer builds should not report them as ours.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:libx265.so\n";
}

}  // namespace corvantis
