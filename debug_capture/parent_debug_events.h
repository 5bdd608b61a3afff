#pragma once

namespace corvantis {

// Makes the benchmark role report to an attached debugger what Windows would raise as debug
// events: the origin of every hresult_error and every fault signal as its exception. (C++ throws
// are reported by the throw interposer linked into the program and need no set-up.)
void InstallParentDebugEvents();

}  // namespace corvantis
