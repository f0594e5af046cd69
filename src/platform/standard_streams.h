// The three standard streams at a program's start. A program started with
// one of them closed would hand that descriptor to the next file it opens,
// and then its messages or its report would land in that file.
#pragma once

// Opens each of standard input, output and error that is closed on the null
// device, so that every file the program opens later gets a descriptor of
// its own. Streams that are open are left as they are.
void openClosedStandardStreams();
