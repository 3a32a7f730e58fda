// Building a command's request from caller text. Caller strings go into queries unencoded,
// so each is checked for what would change the request's meaning: a space, CR, LF or other
// control byte splits or cuts the request line; '&' starts another query field and '#' ends
// the query. Requests are built in fixed buffers and refused when they do not fit.
#pragma once

#include <stddef.h>

// Appends printf-style text to the NUL-terminated `request` of `size` bytes. False when the
// whole text does not fit (the request is then not to be sent).
bool Request_Append(char *request, size_t size, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

// A value placed into one query or form field: no space, control byte, '&' or '#'.
bool Request_FieldIsSafe(const char *value);

// A fragment of several query fields: no space, control byte or '#'.
bool Request_FragmentIsSafe(const char *value);

// A fixed-width text field of a caller's record holds its NUL within `width` bytes.
bool Request_FixedFieldIsTerminated(const char *field, size_t width);
