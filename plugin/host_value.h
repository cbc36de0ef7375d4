/* The host value: the plain record in which a value crosses the plain-function boundary between the host
 * core and the gox-loadouts module, in plain C.
 *
 * Threading: host values are built, read and released on the host's plugin thread.
 *
 * Layout: every record is packed (no padding); fields come in the order and integer widths given here;
 * pointers take the native width. Built for a 32-bit target, a host value is 12 bytes (type code 4,
 * payload 8) and a structure member 17; on a 64-bit target the payload grows to hold a pointer and a
 * count, so a host value is 16 bytes and a member 25.
 *
 * Ownership: whoever builds a value with owned buffers (codes 6, 8, 9, 10) owns them until it hands the
 * value over; the holder then releases it, by code: 6 and 8 free their buffer; 9 releases each element,
 * then the array; 10 frees each owned name and releases each member value, then the array. The value
 * is then zeroed to code 0. Borrowed texts and bytes (codes 5, 7) are never freed by the receiver. The
 * module's own values are allocated and released through its heap hooks. Texts are zero-terminated
 * UTF-8.
 */

#ifndef GOX_PLUGIN_HOST_VALUE_H
#define GOX_PLUGIN_HOST_VALUE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma pack(push, 1)

/* Type codes of a host value, with what the payload holds and who owns it. */
enum {
  kHostValueEmpty = 0,      /* nothing */
  kHostValueBool = 1,       /* payload.boolean */
  kHostValueSigned = 2,     /* payload.signedValue */
  kHostValueUnsigned = 3,   /* payload.unsignedValue */
  kHostValueFloat = 4,      /* payload.floatValue */
  kHostValueText = 5,       /* payload.text: borrowed, never freed by the receiver */
  kHostValueOwnedText = 6,  /* payload.span: text and its length, owned: freed with the value */
  kHostValueBytes = 7,      /* payload.span: bytes and their count, borrowed */
  kHostValueOwnedBytes = 8, /* payload.span: bytes and their count, owned */
  kHostValueCollection = 9, /* payload.span: owned array of HostValue and its count */
  kHostValueStructure = 10  /* payload.span: owned array of HostValueMember and its count */
};

/* A pointer followed by a 32-bit count: texts, byte runs and the arrays of collections and
 * structures. A null pointer goes only with the count 0. */
typedef struct HostValueSpan {
  void* data;
  uint32_t count;
} HostValueSpan;

/* The payload of a host value: 8 bytes on a 32-bit target, wide enough for a pointer and a count. */
typedef union HostValuePayload {
  uint8_t boolean;
  int64_t signedValue;
  uint64_t unsignedValue;
  double floatValue;
  const char* text;
  HostValueSpan span;
} HostValuePayload;

/* A value in plain form. The all-zero record is the empty value. Filled by whoever sends the value and
 * released by whoever holds it last, as the file comment describes. */
typedef struct HostValue {
  uint32_t type;
  HostValuePayload payload;
} HostValue;

/* One member of a structure host value. ownsName is set when the name is freed with the structure. */
typedef struct HostValueMember {
  const char* name;
  HostValue value;
  uint8_t ownsName;
} HostValueMember;

/* Where a conversion from a host value reports its outcome. The caller provides it zeroed; on failure
 * the module sets failed and fills message with a newly allocated text, which the caller releases
 * through the module together with value. */
typedef struct HostValueError {
  HostValue value;
  char* message;
  uint8_t failed;
} HostValueError;

#pragma pack(pop)

#ifdef __cplusplus
}
#endif

#endif /* GOX_PLUGIN_HOST_VALUE_H */
