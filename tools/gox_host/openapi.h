// OpenAPI: an OpenAPI 3.0 document generated from a module's API description, served as
// /openapi.json, so that ordinary tools can read the module's API.
//
// Each endpoint becomes an operation at its path template and method, named by its function name,
// with a summary (its registered description, else method and path) and a description naming the
// function. Its arguments become path, query or header parameters or the JSON request body, by their
// locations (an argument of location "any" is a path parameter when the template names it, else a
// query parameter). Each is described in the form the module binds: a list, a structure or any JSON
// value in the query is one parameter whose value is the JSON text (`content: application/json`), so
// that a client sends ?types=%5B%22A%22%5D and not the form-exploded ?types=A, which binds as a text.
//
// Every operation lists the failures the front door gives for it (400 binding, 404, 413 where it takes
// a body, 500 and 503 from the module, 504) with the failure shape, the schema "GoxHostFailure".
// Registered structures and enumerations that some operation refers to (directly or through fields)
// become schemas under components/schemas; those only events carry are grouped under the extension
// "x-event-schemas"; an enumeration is a string of its enumerator names; types nothing refers to are
// left out. gox-host asks for no credentials, so the document's security list is empty. Endpoints with a
// custom method have no OpenAPI method and are listed under the extension "x-custom-methods"; the module's
// events under "x-events". With the admin API on, the document also holds its module reload
// (POST /admin/modules/{name}/reload, tag "gox-host admin"), the one admin operation a client calls as
// part of its work.

#pragma once

#include <string>
#include <string_view>

#include "host/api_description.h"
#include "host/json_value.h"

namespace GoxHostApp {

// The document for `description`; `title` and `version` fill its info object, and `serverUrl` (the
// URL gox-host listens on, e.g. "http://127.0.0.1:8090") its one server; no servers when empty.
// `withAdmin` adds the admin API's module reload.
[[nodiscard]] GoxHost::JsonValue BuildOpenApi(const GoxHost::ApiDescription& description,
                                              std::string_view title, std::string_view version,
                                              std::string_view serverUrl = {}, bool withAdmin = false);

}  // namespace GoxHostApp
