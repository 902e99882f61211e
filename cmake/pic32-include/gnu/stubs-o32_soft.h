/* The cross compiler's C++ headers pull in the Linux C library's feature
 * stubs for the float ABI in use; the firmware is soft-float and links no C
 * library, so there is nothing to stub. */
