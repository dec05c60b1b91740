// The few Windows type names the program's portable code uses. Their
// definitions match <windows.h>, so a file may include both.
#ifndef BRINDLEX_FRAMEWORK_WIN_TYPES_H_
#define BRINDLEX_FRAMEWORK_WIN_TYPES_H_

typedef int BOOL;
typedef unsigned int UINT;
#ifndef FALSE
#define FALSE 0
#endif
#ifndef TRUE
#define TRUE 1
#endif

// Opaque handles of the window layer. On Windows they hold an HWND, HICON or
// HDC; elsewhere they are null.
typedef void* WindowHandle;
typedef void* IconHandle;
typedef void* DeviceContextHandle;

#endif  // BRINDLEX_FRAMEWORK_WIN_TYPES_H_
