// Large photo buffers and page faults.
#pragma once

// A 24-megapixel photo is a 96 MB buffer, and every refresh allocates several. With 4 KB pages
// the kernel faults each one in page by page, which costs more than the keying itself. glibc
// backs large allocations with transparent huge pages only when told so at process start, so
// this restarts the program once with that setting (Linux with glibc; elsewhere, or when the
// setting is already there or the restart fails, it returns and the program runs as it is).
void preferHugePages(char** argv);
