/* Compile-only check of the boundary records' layout on a 32-bit target, where pointers are 4 bytes
 * wide and every size and offset is fixed by the host core's side. Built with -m32 -fsyntax-only by
 * the test suite; a wrong layout fails to compile. */

#include <stddef.h>

#include "plugin/plugin_abi.h"

#if !defined(__i386__)
#error "compile this check with -m32"
#endif

#define CHECK_SIZE(type, size) _Static_assert(sizeof(type) == (size), #type " is " #size " bytes")
#define CHECK_OFFSET(type, member, offset) \
  _Static_assert(offsetof(type, member) == (offset), #type "." #member " is at " #offset)

CHECK_SIZE(HostValuePayload, 8);
CHECK_SIZE(HostValue, 12);
CHECK_OFFSET(HostValue, payload, 4);
CHECK_SIZE(HostValueMember, 17);
CHECK_OFFSET(HostValueMember, value, 4);
CHECK_OFFSET(HostValueMember, ownsName, 16);

CHECK_SIZE(MemoryStats, 56);
CHECK_OFFSET(MemoryStats, reserved, 48);
CHECK_SIZE(HostContext, 8);
CHECK_SIZE(PluginApi, 12);
CHECK_SIZE(PluginRegistration, 28);
CHECK_OFFSET(PluginRegistration, api, 12);
CHECK_OFFSET(PluginRegistration, description, 24);

CHECK_SIZE(PluginEventRecord, 24);
CHECK_OFFSET(PluginEventRecord, payload, 4);
CHECK_OFFSET(PluginEventRecord, flag, 16);
CHECK_OFFSET(PluginEventRecord, context, 20);

CHECK_SIZE(PluginParameter, 16);
CHECK_SIZE(PluginRequest, 48);
CHECK_OFFSET(PluginRequest, context, 16);
CHECK_OFFSET(PluginRequest, contentType, 28);
CHECK_OFFSET(PluginRequest, handleOrRequestId, 40);
CHECK_OFFSET(PluginRequest, customMethod, 44);

CHECK_SIZE(PluginResponse, 62);
CHECK_OFFSET(PluginResponse, error, 12);
CHECK_OFFSET(PluginResponse, reserved0, 16);
CHECK_OFFSET(PluginResponse, flag, 17);
CHECK_OFFSET(PluginResponse, mode, 18);
CHECK_OFFSET(PluginResponse, status, 22);
CHECK_OFFSET(PluginResponse, reason, 26);
CHECK_OFFSET(PluginResponse, headers, 30);
CHECK_OFFSET(PluginResponse, headerCount, 34);
CHECK_OFFSET(PluginResponse, read, 38);
CHECK_OFFSET(PluginResponse, close, 42);
CHECK_OFFSET(PluginResponse, expectedLength, 46);
CHECK_OFFSET(PluginResponse, reserved1, 50);
CHECK_OFFSET(PluginResponse, streamContext, 54);
CHECK_OFFSET(PluginResponse, release, 58);

CHECK_SIZE(PluginExternalRequest, 32);
CHECK_OFFSET(PluginExternalRequest, flag, 28);
CHECK_SIZE(PluginExternalResponse, 28);
CHECK_OFFSET(PluginExternalResponse, release, 24);

CHECK_SIZE(HostApi, 40);
CHECK_OFFSET(HostApi, yield, 24);
CHECK_OFFSET(HostApi, log, 36);

CHECK_SIZE(PluginApiDescription, 24);
CHECK_SIZE(PluginArgumentLocation, 8);
CHECK_SIZE(PluginTextList, 12);
CHECK_SIZE(PluginArgumentRecord, 25);
CHECK_OFFSET(PluginArgumentRecord, kind, 12);
CHECK_OFFSET(PluginArgumentRecord, typeName, 20);
CHECK_OFFSET(PluginArgumentRecord, optional, 24);

CHECK_SIZE(PluginEndpointRecord, 90);
CHECK_OFFSET(PluginEndpointRecord, context, 8);
CHECK_OFFSET(PluginEndpointRecord, name, 12);
CHECK_OFFSET(PluginEndpointRecord, arguments, 20);
CHECK_OFFSET(PluginEndpointRecord, returnKind, 28);
CHECK_OFFSET(PluginEndpointRecord, returnTypeName, 36);
CHECK_OFFSET(PluginEndpointRecord, help, 44);
CHECK_OFFSET(PluginEndpointRecord, threadSafe, 48);
CHECK_OFFSET(PluginEndpointRecord, asyncTypeName, 49);
CHECK_OFFSET(PluginEndpointRecord, tags, 53);
CHECK_OFFSET(PluginEndpointRecord, tagCount, 57);
CHECK_OFFSET(PluginEndpointRecord, call, 61);
CHECK_OFFSET(PluginEndpointRecord, locations, 65);
CHECK_OFFSET(PluginEndpointRecord, path, 69);
CHECK_OFFSET(PluginEndpointRecord, method, 73);
CHECK_OFFSET(PluginEndpointRecord, flag, 77);
CHECK_OFFSET(PluginEndpointRecord, textLists, 78);
CHECK_OFFSET(PluginEndpointRecord, textListCount, 82);
CHECK_OFFSET(PluginEndpointRecord, customMethod, 86);

CHECK_SIZE(PluginFieldRecord, 29);
CHECK_OFFSET(PluginFieldRecord, offset, 12);
CHECK_OFFSET(PluginFieldRecord, typeName, 24);
CHECK_OFFSET(PluginFieldRecord, optional, 28);
CHECK_SIZE(PluginEnumeratorRecord, 16);
CHECK_OFFSET(PluginEnumeratorRecord, value, 12);
CHECK_SIZE(PluginTypeRecord, 40);
CHECK_OFFSET(PluginTypeRecord, size, 12);
CHECK_OFFSET(PluginTypeRecord, fields, 28);
CHECK_OFFSET(PluginTypeRecord, enumerators, 32);
CHECK_OFFSET(PluginTypeRecord, memberCount, 36);
CHECK_SIZE(PluginEventInfoRecord, 28);
CHECK_OFFSET(PluginEventInfoRecord, payloadTypeName, 12);
CHECK_OFFSET(PluginEventInfoRecord, tagCount, 24);
