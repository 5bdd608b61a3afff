
namespace corvantis {
// The chart draws text, and fontconfig keeps a block of its configuration unreachable for the
// life of the process; sanitizer builds should not report it as ours.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

}  // namespace corvantis
