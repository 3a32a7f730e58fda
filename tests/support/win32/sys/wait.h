// The status macros of <sys/wait.h> for test programs built for Windows, over the statuses
// that kvtest::ChildProcess reports there (waitpid's encoding: exit code << 8, or a signal).
#pragma once

#define WIFEXITED(s) (((s) & 0x7f) == 0)
#define WEXITSTATUS(s) (((s) >> 8) & 0xff)
#define WIFSIGNALED(s) (((s) & 0x7f) != 0)
#define WTERMSIG(s) ((s) & 0x7f)
