#pragma once

// Whether the process's standard error is a terminal: a progress line that
// rewrites itself belongs there, never in a log or a pipe.
bool standardErrorIsTerminal();
