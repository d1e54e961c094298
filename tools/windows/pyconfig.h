/* A minimal pyconfig.h for compiling against the stable ABI with mingw-w64
   on Linux, for tools/test_windows.sh's link check of the .pyd only: the
   Python headers of this machine are the Linux ones, and their pyconfig.h
   describes Linux. A real Windows build uses the interpreter's own headers.
   64-bit Windows is LLP64: long is 4 bytes, wchar_t 2. */
#ifndef Py_CONFIG_H
#define Py_CONFIG_H

#define MS_WIN32
#define MS_WIN64
#define MS_WINDOWS
#define NT_THREADS
#define WITH_THREAD
#define Py_ENABLE_SHARED 1
#define HAVE_DECLSPEC_DLL
#define Py_NT_TYPES 1

#define SIZEOF_SHORT 2
#define SIZEOF_INT 4
#define SIZEOF_LONG 4
#define SIZEOF_LONG_LONG 8
#define SIZEOF_DOUBLE 8
#define SIZEOF_FLOAT 4
#define SIZEOF_VOID_P 8
#define SIZEOF_SIZE_T 8
#define SIZEOF_TIME_T 8
#define SIZEOF_OFF_T 4
#define SIZEOF_FPOS_T 8
#define SIZEOF_WCHAR_T 2
#define SIZEOF__BOOL 1
#define ALIGNOF_SIZE_T 8
#define ALIGNOF_LONG 4
#define HAVE_SSIZE_T 1
#define HAVE_WCHAR_H 1
#define HAVE_STDDEF_H 1
#define HAVE_SYS_TYPES_H 1
#define DOUBLE_IS_LITTLE_ENDIAN_IEEE754 1
#define PY_FORMAT_SIZE_T "ll"

#endif
