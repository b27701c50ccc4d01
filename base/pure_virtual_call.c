/* Where a call of a pure virtual function lands.
 *
 * g++ vtables refer to __cxa_pure_virtual weakly, and a static link that
 * pulls nothing else in leaves the reference at 0: a pure call would then
 * fault at an arbitrary address instead of being reported. This strong
 * definition hands the call to the C runtime's own pure-call path, which
 * runs the handler installed with _set_purecall_handler. It is written in C
 * because a C++ definition comes out weak and the linker may choose the
 * wrong one. */
extern void __cdecl _purecall(void);

void __cxa_pure_virtual(void) { _purecall(); }
