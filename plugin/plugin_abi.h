/* The records and function tables that cross the boundary between the host core and the gox-loadouts
 * module, in plain C.
 *
 * Scope: everything the host core and the module exchange: the registration record of the module's
 * entry, the module's PluginApi table, the HostContext and HostApi table the module receives at
 * Initialize, memory statistics, host values (the plain form of a value), event records, request and
 * response records for calls on the host's resource tree and on the module's endpoints, external HTTP
 * request and response records, and the API description the module hands over at load.
 *
 * Threading: the host core calls the module on one thread, its plugin thread: the entry, the PluginApi
 * functions, endpoint call entries and event callbacks. The module calls HostApi on that thread too,
 * except HostApi.log, which any thread that logs may call. The host core may call back into the module
 * (events, endpoint calls) while the module is inside HostApi.yield.
 *
 * Layout: every record is packed (no padding); fields come in the order and integer widths given here;
 * pointers and function pointers take the native width. Built for a 32-bit target, the records have
 * the sizes and offsets noted on each (a compile-time check holds them to it).
 *
 * Naming: records and tables the module exports are named Plugin...; the ones the host core provides
 * Host...; a host value is HostValue, being the host core's plain value form.
 *
 * Ownership: each record says who fills it and who releases it. Texts are zero-terminated UTF-8.
 * A record that the host core fills and that carries a release function is released by the module
 * calling that function once it has read the record. No exception ever crosses this boundary.
 */

#ifndef GOX_PLUGIN_PLUGIN_ABI_H
#define GOX_PLUGIN_PLUGIN_ABI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma pack(push, 1)

/* ---- Values ---------------------------------------------------------------------------------- */

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
 * structures. */
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

/* A value in plain form (12 bytes on a 32-bit target). Whoever builds an owned value (codes 6, 8, 9,
 * 10) owns its buffers until it hands the value over; the holder releases it by code: 6 and 8 free
 * their buffer; 9 releases each element, then the array; 10 frees each owned name and releases each
 * member value, then the array. The value is then zeroed to code 0. */
typedef struct HostValue {
  uint32_t type;
  HostValuePayload payload;
} HostValue;

/* One member of a structure host value (17 bytes on a 32-bit target). ownsName is set when the name
 * is freed with the structure. */
typedef struct HostValueMember {
  const char* name;
  HostValue value;
  uint8_t ownsName;
} HostValueMember;

/* Where a conversion from a host value reports its outcome: on failure, failed is set and message is
 * a newly allocated text that the receiver frees. */
typedef struct HostValueError {
  HostValue value;
  char* message;
  uint8_t failed;
} HostValueError;

/* ---- Registration and the plugin's table ------------------------------------------------------- */

typedef struct HostApi HostApi;
typedef struct PluginApiDescription PluginApiDescription;

/* Memory statistics of the module's heap (56 bytes). Filled by PluginApi.GetMemoryStats. */
typedef struct MemoryStats {
  uint64_t peakBytesInUse;
  uint64_t allocationsAtPeak;
  uint64_t bytesAllocated;
  uint64_t allocationCount;
  uint64_t bytesFreed;
  uint64_t freeCount;
  uint32_t reserved[2]; /* always 0 */
} MemoryStats;

/* Handed to PluginApi.Initialize (8 bytes on a 32-bit target). Owned by the host core; the module
 * keeps the pointer until Shutdown. */
typedef struct HostContext {
  const HostApi* api;
  uint32_t hostHandle; /* opaque: passed back in event registrations and request records */
} HostContext;

/* The module's function table. Each entry takes the plugin object (PluginRegistration.plugin) first.
 * Static in the module; never released. */
typedef struct PluginApi {
  /* Returns 1 when the plugin started, 0 when it refused. */
  uint8_t (*Initialize)(void* plugin, const HostContext* context);
  /* Stops the plugin and destroys the plugin object; nothing may be called after it. */
  void (*Shutdown)(void* plugin);
  /* Fills the memory statistics; the reserved words are written as 0. */
  void (*GetMemoryStats)(void* plugin, MemoryStats* stats);
} PluginApi;

/* The record whose address the host core passes to load_gox_loadouts (28 bytes on a 32-bit target).
 * Filled by the host core (the version words) and then by the module; owned by the host core. When the
 * module refuses to load, it leaves every word as the host core wrote it. */
typedef struct PluginRegistration {
  uint32_t major; /* in: the host core's plugin-API version; out: the module's */
  uint32_t minor;
  uint32_t patch;
  const PluginApi* api;                    /* out */
  void* plugin;                            /* out: first argument of every PluginApi call */
  const char* shortName;                   /* out: valid while the plugin object lives */
  const PluginApiDescription* description; /* out: valid while the plugin object lives */
} PluginRegistration;

/* The module's one exported entry. Returns 0 when the module loaded and filled the record, non-zero
 * when it refused (an incompatible plugin-API version, or no memory for the plugin object). */
typedef uint32_t (*PluginLoadEntry)(PluginRegistration* registration);

/* ---- Events --------------------------------------------------------------------------------------- */

/* An event (24 bytes on a 32-bit target). When the module sends one (HostApi.sendEvent), the module
 * owns it and its payload, and keeps them until the call returns. When the host core delivers one, the
 * host core owns it; the callback only reads it. */
typedef struct PluginEventRecord {
  const char* name;
  HostValue payload;
  uint32_t flag; /* 0 in every event the module sends */
  void* context; /* on delivery: the context given at registration; 0 when sending */
} PluginEventRecord;

/* An event callback registered with HostApi.registerEvent. */
typedef void (*PluginEventCallback)(const PluginEventRecord* event);

/* ---- Requests ------------------------------------------------------------------------------------- */

/* HTTP method codes of request records; 8 is a custom method named by the record. */
enum {
  kHttpMethodAny = 0,
  kHttpMethodDelete = 1,
  kHttpMethodGet = 2,
  kHttpMethodHead = 3,
  kHttpMethodOptions = 4,
  kHttpMethodPatch = 5,
  kHttpMethodPost = 6,
  kHttpMethodPut = 7,
  kHttpMethodOther = 8
};

/* A parameter of a request (16 bytes on a 32-bit target); name is null for a positional parameter.
 * Owned by whoever builds the request, until the call returns. */
typedef struct PluginParameter {
  const char* name;
  HostValue value;
} PluginParameter;

/* A request on the host's resource tree (outgoing, HostApi.request) or on one of the module's
 * endpoints (incoming, an endpoint's call entry); 48 bytes on a 32-bit target. Owned by the caller,
 * valid until the call returns. Outgoing requests leave context, headers, content type and body zero. */
typedef struct PluginRequest {
  uint32_t method;
  const char* path; /* incoming calls may carry a query after '?' */
  const PluginParameter* parameters;
  uint32_t parameterCount;
  void* context;              /* incoming: the endpoint record's context pointer */
  const char* const* headers; /* pairs: name, value */
  uint32_t headerCount;       /* number of pairs */
  const char* contentType;
  const void* body;
  uint32_t bodyLength;
  uint32_t handleOrRequestId; /* outgoing: the host handle; incoming: the request identifier */
  const char* customMethod;   /* with method kHttpMethodOther */
} PluginRequest;

typedef struct PluginResponse PluginResponse;

/* Reads the next chunk of a streamed body: on entry *length is the buffer's capacity, on return the
 * bytes delivered; *more says whether more data will follow. Returns non-zero on success. */
typedef int32_t (*PluginStreamRead)(void* context, char* buffer, uint32_t* length, uint8_t* more);
typedef void (*PluginStreamClose)(void* context);
typedef void (*PluginResponseRelease)(PluginResponse* response);

/* The answer to a request (62 bytes on a 32-bit target). For an outgoing request the module zero-fills
 * it and the host core fills it; the module reads it and then calls release (when set). For an
 * incoming call the host core provides it and the module fills it; the module's buffers in it stay
 * valid until the host core calls release, which the module sets. */
struct PluginResponse {
  HostValue body;                /* 0: the body, when no stream is given */
  const char* error;             /* 12: null on success */
  uint8_t reserved0;             /* 16: 0 */
  uint8_t flag;                  /* 17: response flag of an answered call */
  uint32_t mode;                 /* 18: response mode of an answered call: 1, 2 or 3, else 0 */
  int32_t status;                /* 22: HTTP status */
  const char* reason;            /* 26: reason text, empty when none */
  const char* const* headers;    /* 30: pairs: name, value */
  uint32_t headerCount;          /* 34 */
  PluginStreamRead read;         /* 38: null when the body is in `body` */
  PluginStreamClose close;       /* 42 */
  uint32_t expectedLength;       /* 46: expected body length of a stream */
  uint32_t reserved1;            /* 50: 0 */
  void* streamContext;           /* 54: first argument of read and close */
  PluginResponseRelease release; /* 58: releases the whole record, or null */
};

/* An HTTP request to an outside server (32 bytes on a 32-bit target), built by the module and valid
 * until HostApi.externalRequest returns. */
typedef struct PluginExternalRequest {
  uint32_t method;
  const char* url;
  const char* const* headers; /* pairs: name, value */
  uint32_t headerCount;
  const void* body;
  uint32_t bodyLength;
  uint32_t value; /* passed to the host core unchanged */
  uint32_t flag;  /* passed to the host core unchanged */
} PluginExternalRequest;

typedef struct PluginExternalResponse PluginExternalResponse;

/* The answer to an external request (28 bytes on a 32-bit target): zero-filled by the module, filled
 * by the host core, released by the module through release when set. */
struct PluginExternalResponse {
  int32_t result; /* 0 success; other codes name the failure */
  int32_t status;
  const char* const* headers; /* pairs: name, value */
  uint32_t headerCount;
  const void* body;
  uint32_t bodyLength;
  void (*release)(PluginExternalResponse* response);
};

/* ---- The host core's table ------------------------------------------------------------------------ */

/* The host core's function table, handed over in HostContext. Every entry takes the table's own
 * address first. Valid from Initialize until Shutdown; owned by the host core. */
struct HostApi {
  /* 0: runs a request on the host's resource tree and fills the response before returning. */
  void (*request)(const HostApi* api, PluginResponse* response, const PluginRequest* request);
  /* 1: runs an HTTP request to an outside server and fills the response before returning. */
  void (*externalRequest)(const HostApi* api, PluginExternalResponse* response,
                          const PluginExternalRequest* request);
  /* 2: publishes the event to the host's listeners. */
  void (*sendEvent)(const HostApi* api, const PluginEventRecord* event);
  /* 3: from now on calls callback for events of that name, on the plugin thread, with context in the
   * record; flag 0 for resource events, 1 for service-proxy events. */
  void (*registerEvent)(const HostApi* api, const char* name, uint32_t hostHandle,
                        PluginEventCallback callback, void* context, uint32_t flag);
  /* 4: no further calls for that name. */
  void (*unregisterEvent)(const HostApi* api, const char* name, uint32_t hostHandle);
  /* 5: kept for the table's order; never called by this module. */
  void (*reserved5)(const HostApi* api, uint32_t a, uint32_t b, uint32_t c, double d, uint32_t e);
  /* 6: runs pending host work once (event and answer delivery) and returns. */
  void (*yield)(const HostApi* api);
  /* 7: marks the start of a wait; flag is always 0. */
  void (*beginWait)(const HostApi* api, const char* label, uint32_t flag);
  /* 8: marks the end of that wait. */
  void (*endWait)(const HostApi* api);
  /* 9: writes a message to the host's log at the given level (2 errors, 3 progress). */
  void (*log)(const HostApi* api, int32_t level, const char* message);
};

/* ---- The API description ---------------------------------------------------------------------------
 * Built by the module at load and owned by it; every record and text stays valid and unchanged while
 * the plugin object lives. Records of one kind lie contiguously in one array, and the first word of
 * each points to the next record of its array (null for the last); walk the arrays by their counts.
 * Kind codes are the native kinds (1 "bool" to 19 "map", 0 for anything else). */

typedef struct PluginArgumentLocation PluginArgumentLocation;
typedef struct PluginTextList PluginTextList;
typedef struct PluginArgumentRecord PluginArgumentRecord;
typedef struct PluginEndpointRecord PluginEndpointRecord;
typedef struct PluginFieldRecord PluginFieldRecord;
typedef struct PluginEnumeratorRecord PluginEnumeratorRecord;
typedef struct PluginTypeRecord PluginTypeRecord;
typedef struct PluginEventInfoRecord PluginEventInfoRecord;

/* The call entry of an endpoint. */
typedef void (*PluginCallEntry)(PluginResponse* response, const PluginRequest* request);

/* One parameter's location (8 bytes on a 32-bit target): 1 query, 2 path, 4 header, 5 body, 0 any. */
struct PluginArgumentLocation {
  PluginArgumentLocation* next;
  uint32_t location;
};

/* A list of texts (12 bytes on a 32-bit target). */
struct PluginTextList {
  PluginTextList* next;
  const char* const* texts;
  uint32_t count;
};

/* A function argument (25 bytes on a 32-bit target). */
struct PluginArgumentRecord {
  PluginArgumentRecord* next;
  const char* name;
  const char* description;
  uint32_t kind;
  uint32_t elementKind;
  const char* typeName; /* the referenced type's name for kinds 15 to 17, else empty */
  uint8_t optional;
};

/* An endpoint (90 bytes on a 32-bit target): offsets 0 to 60 describe the function, 61 to 89 the
 * endpoint. */
struct PluginEndpointRecord {
  PluginEndpointRecord* next;        /* 0 */
  uint32_t reserved;                 /* 4: 0 */
  void* context;                     /* 8: copied into PluginRequest.context of every call */
  const char* name;                  /* 12 */
  const char* nameSpace;             /* 16 */
  PluginArgumentRecord* arguments;   /* 20 */
  uint32_t argumentCount;            /* 24 */
  uint32_t returnKind;               /* 28 */
  uint32_t returnElementKind;        /* 32 */
  const char* returnTypeName;        /* 36: for kinds 15 to 17, else empty */
  const char* description;           /* 40 */
  const char* help;                  /* 44 */
  uint8_t threadSafe;                /* 48 */
  const char* asyncTypeName;         /* 49: for an asynchronous function, else empty */
  const char* const* tags;           /* 53 */
  uint32_t tagCount;                 /* 57 */
  PluginCallEntry call;              /* 61 */
  PluginArgumentLocation* locations; /* 65: one per parameter */
  const char* path;                  /* 69: the path template */
  uint32_t method;                   /* 73: 1 to 8, else 0 */
  uint8_t flag;                      /* 77: copied from the endpoint's registration */
  PluginTextList* textLists;         /* 78 */
  uint32_t textListCount;            /* 82 */
  const char* customMethod;          /* 86: with method 8, else empty */
};

/* A structure member (29 bytes on a 32-bit target). */
struct PluginFieldRecord {
  PluginFieldRecord* next;
  const char* name;
  const char* description;
  uint32_t offset;
  uint32_t kind;
  uint32_t elementKind;
  const char* typeName; /* for kinds 15 to 17, else empty */
  uint8_t optional;
};

/* An enumerator (16 bytes on a 32-bit target); enumerators appear in name order. */
struct PluginEnumeratorRecord {
  PluginEnumeratorRecord* next;
  const char* name;
  const char* description;
  int32_t value;
};

/* A registered structure or enumeration (40 bytes on a 32-bit target). */
struct PluginTypeRecord {
  PluginTypeRecord* next;
  const char* name;
  const char* nameSpace;
  uint32_t size;
  const char* description;
  const char* const* tags;
  uint32_t tagCount;
  PluginFieldRecord* fields;           /* structures, else null */
  PluginEnumeratorRecord* enumerators; /* types without fields, else null */
  uint32_t memberCount;                /* fields, or enumerators when there are no fields */
};

/* A registered event (28 bytes on a 32-bit target). */
struct PluginEventInfoRecord {
  PluginEventInfoRecord* next;
  const char* name;
  const char* nameSpace;
  const char* payloadTypeName;
  const char* description;
  const char* const* tags;
  uint32_t tagCount;
};

/* The description's header (24 bytes on a 32-bit target): registration word 6 points here. */
struct PluginApiDescription {
  PluginEndpointRecord* endpoints;
  uint32_t endpointCount;
  PluginTypeRecord* types;
  uint32_t typeCount;
  PluginEventInfoRecord* events;
  uint32_t eventCount;
};

#pragma pack(pop)

#ifdef __cplusplus
}
#endif

#endif /* GOX_PLUGIN_PLUGIN_ABI_H */
