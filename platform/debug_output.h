#pragma once

// True while a debugger (a tracer) is attached to this process.
bool IsDebuggerPresent();

// Hands a text to an attached debugger, which shows it as one line; nothing happens without one.
void OutputDebugStringW(const wchar_t* text);
void OutputDebugStringA(const char* text);
