/* The maker's driver as the program meets it: the IDs it matches, the class of the interfaces it
   registers, their pipe paths, its I/O control codes and the descriptors it hands back, with the
   deck's own descriptors built from them. C, so that the kernel stand-in includes it too; the
   link's C++ names for these are in link/Protocol.h. */
#ifndef TREVOLIN_DRIVER_WIRE_H
#define TREVOLIN_DRIVER_WIRE_H

/* The maker's USB vendor ID, and the deck's product IDs in the order they are searched for. */
#define DRIVER_VENDOR_ID 0x31D4
#define DRIVER_PRODUCT_ID 142
#define DRIVER_OTHER_PRODUCT_ID 52

/* The class of the device interface that the driver registers for each deck: an initializer of a
   GUID's four fields. */
/* clang-format off */
#define DRIVER_CLASS_GUID {0xF37537E5, 0xE0D8, 0x4B21, {0x91, 0xE3, 0xAA, 0x59, 0x2A, 0x7A, 0x7E, 0xBA}}
/* clang-format on */

/* A pipe's path is the device path, then this with the interface and pipe numbers. The deck's
   commands go out on pipe 0 of interface 0 (its first endpoint), its replies come in on pipe 1
   (the second). */
#define DRIVER_PIPE_SUFFIX "\\if%03dpipe%03d"
#define DRIVER_DECK_INTERFACE 0
#define DRIVER_COMMAND_PIPE 0
#define DRIVER_REPLY_PIPE 1

/* The I/O control codes. */
#define DRIVER_DEVICE_CONTROL 0x220004 /* on the device, no buffers: issued once before the power-on */
#define DRIVER_PIPE_CONTROL 0x220008   /* on a pipe, no buffers: after a failed read on a ready pipe */
#define DRIVER_DESCRIPTOR 0x220014     /* in: type, 0, 0, 0; out: the descriptor */
#define DRIVER_READY 0x220018          /* out: 32-bit status, not 0 when ready */

/* The standard USB descriptors that DRIVER_DESCRIPTOR hands back, and the fields that are read. */
#define DRIVER_DEVICE_DESCRIPTOR_TYPE 1
#define DRIVER_CONFIG_DESCRIPTOR_TYPE 2
#define DRIVER_INTERFACE_DESCRIPTOR_TYPE 4
#define DRIVER_ENDPOINT_DESCRIPTOR_TYPE 5
#define DRIVER_DEVICE_DESCRIPTOR_LENGTH 18
#define DRIVER_VENDOR_ID_AT 8       /* of the device descriptor, little-endian */
#define DRIVER_PRODUCT_ID_AT 10     /* likewise */
#define DRIVER_CONFIG_HEAD_LENGTH 9 /* gives the whole configuration's length */
#define DRIVER_TOTAL_LENGTH_AT 2    /* of the configuration, little-endian */
#define DRIVER_INTERFACE_NUMBER_AT 2
#define DRIVER_PACKET_SIZE_AT 4 /* of an endpoint descriptor, little-endian */

/* The deck's device descriptor, as a device of another vendor or product would give it too. */
static inline void DriverDeviceDescriptor(unsigned char out[DRIVER_DEVICE_DESCRIPTOR_LENGTH], unsigned vendor,
                                          unsigned product) {
  /* clang-format off */
  static const unsigned char kDeck[DRIVER_DEVICE_DESCRIPTOR_LENGTH] = {
      DRIVER_DEVICE_DESCRIPTOR_LENGTH, DRIVER_DEVICE_DESCRIPTOR_TYPE, 0x00, 0x02, 0xFF, 0, 0, 64,
      0, 0, 0, 0, 0x00, 0x01, 1, 2, 3, 1};
  /* clang-format on */
  int i;
  for (i = 0; i < DRIVER_DEVICE_DESCRIPTOR_LENGTH; ++i) out[i] = kDeck[i];
  out[DRIVER_VENDOR_ID_AT] = (unsigned char)vendor;
  out[DRIVER_VENDOR_ID_AT + 1] = (unsigned char)(vendor >> 8);
  out[DRIVER_PRODUCT_ID_AT] = (unsigned char)product;
  out[DRIVER_PRODUCT_ID_AT + 1] = (unsigned char)(product >> 8);
}

/* The deck's configuration: one vendor-specific interface 0 with a bulk OUT endpoint (pipe 0) and
   a bulk IN endpoint (pipe 1) of these packet sizes. */
#define DRIVER_DECK_CONFIG_LENGTH 32
static inline void DriverConfigDescriptor(unsigned char out[DRIVER_DECK_CONFIG_LENGTH], unsigned packetSize0,
                                          unsigned packetSize1) {
  /* clang-format off */
  static const unsigned char kDeck[DRIVER_DECK_CONFIG_LENGTH] = {
      DRIVER_CONFIG_HEAD_LENGTH, DRIVER_CONFIG_DESCRIPTOR_TYPE, DRIVER_DECK_CONFIG_LENGTH, 0, 1, 1, 0, 0x80, 50,
      9, DRIVER_INTERFACE_DESCRIPTOR_TYPE, DRIVER_DECK_INTERFACE, 0, 2, 0xFF, 0, 0, 0,
      7, DRIVER_ENDPOINT_DESCRIPTOR_TYPE, 0x01, 2, 0, 0, 0, /* OUT */
      7, DRIVER_ENDPOINT_DESCRIPTOR_TYPE, 0x82, 2, 0, 0, 0};  /* IN */
  /* clang-format on */
  unsigned char* const endpoint0 = out + 18;
  unsigned char* const endpoint1 = out + 25;
  int i;
  for (i = 0; i < DRIVER_DECK_CONFIG_LENGTH; ++i) out[i] = kDeck[i];
  endpoint0[DRIVER_PACKET_SIZE_AT] = (unsigned char)packetSize0;
  endpoint0[DRIVER_PACKET_SIZE_AT + 1] = (unsigned char)(packetSize0 >> 8);
  endpoint1[DRIVER_PACKET_SIZE_AT] = (unsigned char)packetSize1;
  endpoint1[DRIVER_PACKET_SIZE_AT + 1] = (unsigned char)(packetSize1 >> 8);
}

#endif
