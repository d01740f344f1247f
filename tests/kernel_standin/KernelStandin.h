/* What the kernel stand-in, its installer and the tests that read its record share. C, for the
   driver's sake. */
#ifndef TREVOLIN_KERNEL_STANDIN_H
#define TREVOLIN_KERNEL_STANDIN_H

/* The service, and the root device name under which each member is registered. */
#define STANDIN_SERVICE "KernelStandin"
#define STANDIN_DEVICE_ID "KERNELSTANDIN"

/* Every request that reaches a member, one line each: its kind, the member's index and the
   requesting process, then for an I/O control its code and input in hex:
   "create 3 252", "ioctl 3 252 220014 01000000", "close 3 252"; "irp 3 252 MAJOR" for any other. */
#define STANDIN_RECORD_PATH "C:\\kernel-standin.txt"

#define STANDIN_LINK_CHARS 200

/* One interface of the driver's class: what its device descriptor says, whether it reports
   ready, the packet sizes of its configuration's two endpoints, and the link below \DosDevices
   that its device path opens. The installer stores the members as one binary value "Members" of
   the service key; the driver reads them as it starts. */
typedef struct StandinMember {
  unsigned short vendor;
  unsigned short product;
  unsigned short ready;
  unsigned short packetSize0;
  unsigned short packetSize1;
  unsigned short linkLength; /* characters */
  unsigned short link[STANDIN_LINK_CHARS];
} StandinMember;

#endif
