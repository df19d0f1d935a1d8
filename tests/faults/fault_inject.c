// A fault injector loaded with LD_PRELOAD: counts the calls a run makes to open, read, pread,
// write, pwrite, fsync, rename, close, ftruncate and malloc, and makes the N-th call of one of
// them fail. Only calls on files below KVT_FAULT_DIR count (by path for open and rename, by the
// descriptor's path otherwise), so that the loader, /proc and the terminal are left alone;
// malloc counts every call once the run has touched one of those files (allocations of the
// libraries' start-up, before main, are not the program's to handle).
//
//   KVT_FAULT_DIR     the folder whose files count (required for any I/O call to count)
//   KVT_FAULT_CALL    the call to fail: open, read, pread, write, pwrite, fsync, rename, close,
//                     ftruncate or malloc
//   KVT_FAULT_N       which call of that kind fails (from 1); 0 or unset: count only
//   KVT_FAULT_ERROR   EIO, ENOSPC, EINTR, ENOMEM, or "short" (half the bytes are moved)
//   KVT_FAULT_REPORT  file to which "fired CALL N" is appended when the fault fires (for malloc
//                     with "by OBJECT", the file name of the code that asked) and "CALL COUNT"
//                     lines at exit
//   KVT_FAULT_RANK    in an MPI job, the one rank (OMPI_COMM_WORLD_RANK or PMI_RANK) whose
//                     calls count; every other process, the launcher too, is left alone
//
// C, so that it depends on nothing but the C library.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <execinfo.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

enum call {
  c_open,
  c_read,
  c_pread,
  c_write,
  c_pwrite,
  c_fsync,
  c_rename,
  c_close,
  c_ftruncate,
  c_malloc,
  c_count
};
static const char* const names[c_count] = {"open",  "read",   "pread", "write",     "pwrite",
                                           "fsync", "rename", "close", "ftruncate", "malloc"};

static unsigned long counts[c_count];
static int target = -1;
static unsigned long target_n;
static int fault_errno = EIO;
static int fault_short;
static int armed;        // set once the environment is read: calls before that do not count
static int chosen = 1;   // this process is the one whose calls count (see KVT_FAULT_RANK)
static int files_begun;  // set at the first counted I/O call: allocations count from then on
static char dir[4096];
static size_t dir_length;

extern void* __libc_malloc(size_t size);

static void configure(void) __attribute__((constructor));
static void report(void) __attribute__((destructor));

// Whether this process is the rank asked for, when one is.
static int is_chosen_rank(void) {
  const char* wanted = getenv("KVT_FAULT_RANK");
  if (!wanted || !*wanted) return 1;
  const char* rank = getenv("OMPI_COMM_WORLD_RANK");
  if (!rank) rank = getenv("PMI_RANK");
  return rank && strcmp(rank, wanted) == 0;
}

static void configure(void) {
  chosen = is_chosen_rank();
  if (!chosen) return;
  const char* d = getenv("KVT_FAULT_DIR");
  if (d && strlen(d) < sizeof dir) {
    strcpy(dir, d);
    dir_length = strlen(dir);
    while (dir_length > 1 && dir[dir_length - 1] == '/') dir[--dir_length] = '\0';
  }
  const char* call = getenv("KVT_FAULT_CALL");
  for (int i = 0; call && i < c_count; ++i) {
    if (strcmp(call, names[i]) == 0) target = i;
  }
  const char* n = getenv("KVT_FAULT_N");
  target_n = n ? strtoul(n, NULL, 10) : 0;
  const char* e = getenv("KVT_FAULT_ERROR");
  if (e) {
    if (strcmp(e, "short") == 0)
      fault_short = 1;
    else if (strcmp(e, "ENOSPC") == 0)
      fault_errno = ENOSPC;
    else if (strcmp(e, "EINTR") == 0)
      fault_errno = EINTR;
    else if (strcmp(e, "ENOMEM") == 0)
      fault_errno = ENOMEM;
  }
  void* frame;
  backtrace(&frame, 1);  // loads the unwinder now: later it must not allocate
  armed = 1;
}

// Appends `text` to the report with raw system calls: the run may be failing its own writes.
static void append_to_report(const char* text) {
  const char* path = getenv("KVT_FAULT_REPORT");
  if (!path) return;
  const int fd = (int)syscall(SYS_openat, AT_FDCWD, path, O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd < 0) return;
  syscall(SYS_write, fd, text, strlen(text));
  syscall(SYS_close, fd);
}

// The counts, at exit. A program that ends without exit handlers (_exit) reports no counts,
// but its fault was reported when it fired.
static void report(void) {
  armed = 0;
  if (!chosen) return;
  char lines[c_count * 32];
  size_t used = 0;
  for (int i = 0; i < c_count; ++i) {
    used += (size_t)snprintf(lines + used, sizeof lines - used, "%s %lu\n", names[i], counts[i]);
  }
  append_to_report(lines);
}

static int below_dir(const char* path) {
  if (dir_length == 0 || !path) return 0;
  char absolute[8192];
  if (path[0] != '/') {
    if (!getcwd(absolute, sizeof absolute - 1)) return 0;
    const size_t len = strlen(absolute);
    snprintf(absolute + len, sizeof absolute - len, "/%s", path);
    path = absolute;
  }
  return strncmp(path, dir, dir_length) == 0 && (path[dir_length] == '/' || !path[dir_length]);
}

// Looked up on every call: descriptors that the C library opens and closes internally (fopen,
// mkstemp, fclose) pass by this library, so a cached answer could be stale.
static int fd_watched_now(int fd) {
  if (fd < 0 || dir_length == 0) return 0;
  char link[64], path[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const long len = syscall(SYS_readlinkat, AT_FDCWD, link, path, sizeof path - 1);
  if (len <= 0) return 0;
  path[len] = '\0';
  return below_dir(path);
}

static const char* object_name(const void* address) {
  Dl_info info;
  if (!dladdr(address, &info) || !info.dli_fname) return NULL;
  const char* slash = strrchr(info.dli_fname, '/');
  return slash ? slash + 1 : info.dli_fname;
}

// The file name of the first code on the stack that is neither this library nor the C library
// (whose strdup or asprintf allocate for their callers), or NULL.
static const char* asker(void) {
  void* frames[32];
  const int depth = backtrace(frames, 32);
  const char* self = object_name(&target);  // any object of this library
  for (int i = 0; i < depth; ++i) {
    const char* name = object_name(frames[i]);
    if (name && strcmp(name, self ? self : "") != 0 && strncmp(name, "libc.so", 7) != 0) {
      return name;
    }
  }
  return NULL;
}

// Counts a call that concerns the watched files; true when this one must fail. `caller` is
// nonzero for an allocation, whose asker is then named in the report.
static int strike(enum call c, int caller) {
  if (!armed || (c == c_malloc && !files_begun)) return 0;
  if (c != c_malloc) files_begun = 1;
  const unsigned long n = __atomic_add_fetch(&counts[c], 1, __ATOMIC_RELAXED);
  if ((int)c != target || n != target_n) return 0;
  // Which library asked: a runtime's own allocations (MPI's) are told apart from kvtraj's.
  const char* object = caller ? asker() : NULL;
  char line[512];
  snprintf(line, sizeof line, "fired %s %lu%s%s\n", names[c], n, object ? " by " : "",
           object ? object : "");
  append_to_report(line);
  return 1;
}

typedef int (*open_fn)(const char*, int, ...);
typedef int (*openat_fn)(int, const char*, int, ...);
typedef ssize_t (*read_fn)(int, void*, size_t);
typedef ssize_t (*write_fn)(int, const void*, size_t);
typedef ssize_t (*pread_fn)(int, void*, size_t, off_t);
typedef ssize_t (*pwrite_fn)(int, const void*, size_t, off_t);
typedef int (*fd_fn)(int);
typedef int (*ftruncate_fn)(int, off_t);
typedef int (*rename_fn)(const char*, const char*);

// The C library's own function of that name (memcpy: ISO C has no object-to-function cast).
static void lookup(const char* name, void* function) {
  void* symbol = dlsym(RTLD_NEXT, name);
  memcpy(function, &symbol, sizeof symbol);
}

#define NEXT(type, name)   \
  static type real = NULL; \
  if (!real) lookup(name, &real)

static int open_common(const char* name, int at, const char* path, int flags, mode_t mode) {
  if (below_dir(path) && strike(c_open, 0)) {
    errno = fault_short ? EIO : fault_errno;
    return -1;
  }
  if (at == -1) {
    open_fn real = NULL;
    lookup(name, &real);
    return real(path, flags, mode);
  }
  openat_fn real = NULL;
  lookup(name, &real);
  return real(at, path, flags, mode);
}

static mode_t mode_arg(int flags, va_list ap) {
  return (flags & (O_CREAT | __O_TMPFILE)) ? (mode_t)va_arg(ap, int) : 0;
}

int open(const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = mode_arg(flags, ap);
  va_end(ap);
  return open_common("open", -1, path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = mode_arg(flags, ap);
  va_end(ap);
  return open_common("open64", -1, path, flags, mode);
}

int openat(int at, const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = mode_arg(flags, ap);
  va_end(ap);
  return open_common("openat", at, path, flags, mode);
}

// The fault of a transfer: -1 with the error, or a count of half the bytes for "short".
static int transfer_fault(enum call c, int fd, size_t* bytes) {
  if (!fd_watched_now(fd) || !strike(c, 0)) return 0;
  if (fault_short && *bytes > 1) {
    *bytes /= 2;
    return 0;
  }
  errno = fault_short ? EIO : fault_errno;
  return -1;
}

ssize_t read(int fd, void* data, size_t bytes) {
  NEXT(read_fn, "read");
  if (transfer_fault(c_read, fd, &bytes)) return -1;
  return real(fd, data, bytes);
}

ssize_t write(int fd, const void* data, size_t bytes) {
  NEXT(write_fn, "write");
  if (transfer_fault(c_write, fd, &bytes)) return -1;
  return real(fd, data, bytes);
}

ssize_t pread(int fd, void* data, size_t bytes, off_t at) {
  NEXT(pread_fn, "pread");
  if (transfer_fault(c_pread, fd, &bytes)) return -1;
  return real(fd, data, bytes, at);
}

ssize_t pread64(int fd, void* data, size_t bytes, off_t at) {
  return pread(fd, data, bytes, at);
}

ssize_t pwrite(int fd, const void* data, size_t bytes, off_t at) {
  NEXT(pwrite_fn, "pwrite");
  if (transfer_fault(c_pwrite, fd, &bytes)) return -1;
  return real(fd, data, bytes, at);
}

ssize_t pwrite64(int fd, const void* data, size_t bytes, off_t at) {
  return pwrite(fd, data, bytes, at);
}

// A call that moves no bytes: a short count cannot be given, so "short" fails with EIO.
static int plain_fault(enum call c, int watched) {
  if (!watched || !strike(c, 0)) return 0;
  errno = fault_short ? EIO : fault_errno;
  return -1;
}

int fsync(int fd) {
  NEXT(fd_fn, "fsync");
  if (plain_fault(c_fsync, fd_watched_now(fd))) return -1;
  return real(fd);
}

int ftruncate(int fd, off_t length) {
  NEXT(ftruncate_fn, "ftruncate");
  if (plain_fault(c_ftruncate, fd_watched_now(fd))) return -1;
  return real(fd, length);
}

int ftruncate64(int fd, off_t length) {
  return ftruncate(fd, length);
}

int rename(const char* from, const char* to) {
  NEXT(rename_fn, "rename");
  if (plain_fault(c_rename, below_dir(from) || below_dir(to))) return -1;
  return real(from, to);
}

// As Linux does, a failing close still releases the descriptor.
int close(int fd) {
  NEXT(fd_fn, "close");
  const int fail = plain_fault(c_close, fd_watched_now(fd));
  const int err = errno;
  const int result = real(fd);
  if (!fail) return result;
  errno = err;
  return -1;
}

void* malloc(size_t size) {
  if (strike(c_malloc, 1)) {
    errno = ENOMEM;
    return NULL;
  }
  return __libc_malloc(size);
}
