
namespace corvantis {
// fontconfig keeps a block it allocates while parsing its configuration files unreachable for the
// life of the process; sanitizer builds should not report it as ours.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

}  // namespace corvantis
