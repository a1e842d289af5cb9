// Crash reports and call stacks: processor faults (SIGSEGV, SIGBUS, SIGFPE,
// SIGILL) become a log entry with the fault's exception code and name, the
// registers and a symbolised call stack, followed by the fatal error
// "Oops! The game crashed. See log file for more info.".
#pragma once
#include <cstdint>
#include <csignal>

// Installs the handler for the faults above on an alternate signal stack (so
// a stack overflow can be reported too). The first thing the process does.
void set_except_report_handler();
// Registers the executable's own symbols with the symboliser; logs
// "symhlp_load: ..." or "can't load sym for: %s". Called once the log has its
// first line.
void register_exe_symbols();

// Registers a loaded module's symbols and source lines (an ELF file mapped
// into the process) so call stacks name its functions, static ones too. base
// 0 finds the module among the process's modules by full path or file name
// (case ignored) and takes its base and size from there. Logs
// "symhlp_load: <%s> base=%08X size=%08X".
bool symhlp_load(const char* path, uintptr_t base, uintptr_t size);
// Unregisters them (base 0: the module registered under that path or name);
// logs "symhlp_unload: <%s> base=%08X".
bool symhlp_unload(const char* path, uintptr_t base);

// Logs the calling thread's stack, up to 32 frames, leaving out the skip + 1
// innermost ones: "%s: %s" with the label, or the stack alone without one.
void debug_dump_stack(const char* label, int skip);

// Formats "Call stack (%d frames):\n" and one line per frame into buf (cut
// where it does not fit; always terminated). Frame slots holding -1 end the
// list. Frames other than the first are return addresses.
void format_call_stack(void* const* frames, int count, char* buf, int size);

// The exception code of a fault and its name; 0 and null when the signal
// is not one the report covers.
uint32_t exception_code_for_signal(int sig, int si_code);
const char* exception_code_name(uint32_t code);
