
namespace corvantis {
// Drawing text leaves a block of fontconfig's configuration unreachable for the life of the
// process, and libx265 3.5 keeps some frame-filter buffers after x265_encoder_close. Sanitizer
// builds of the tests that draw or encode should not report them as ours.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:libx265.so\n";
}

}  // namespace corvantis
