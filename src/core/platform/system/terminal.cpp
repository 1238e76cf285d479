#include "core/platform/system/terminal.h"

#include <unistd.h>

bool standardErrorIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}
