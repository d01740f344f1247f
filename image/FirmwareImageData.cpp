// The image file named by TREVOLIN_IMAGE_FILE, checked by the build (firmware.py), put into the
// program's read-only data by the assembler as it is: no generated source for the compiler to
// parse. Nothing else is defined here, as the compiler does not see the section change.
#include "image/FirmwareImage.h"

#define TREVOLIN_TEXT_(x) #x
#define TREVOLIN_TEXT(x) TREVOLIN_TEXT_(x)
#define TREVOLIN_IMAGE_SYMBOL TREVOLIN_TEXT(__USER_LABEL_PREFIX__) "FirmwareImage"
#ifdef _WIN32
#define TREVOLIN_READ_ONLY ".section .rdata,\"dr\"\n"
#else
#define TREVOLIN_READ_ONLY ".section .rodata\n"
#endif

asm(TREVOLIN_READ_ONLY
    ".balign 16\n"
    ".globl " TREVOLIN_IMAGE_SYMBOL "\n" TREVOLIN_IMAGE_SYMBOL
    ":\n"
    ".incbin \"" TREVOLIN_IMAGE_FILE
    "\"\n"
    ".text\n");
