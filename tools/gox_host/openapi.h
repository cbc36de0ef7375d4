// OpenAPI: an OpenAPI 3.0 document generated from a module's API description, served as
// /openapi.json, so that ordinary tools can read the module's API.
//
// Each endpoint becomes an operation at its path template and method, named by its function name,
// with its arguments as path, query or header parameters or as the JSON request body, by their
// locations (an argument of location "any" is a path parameter when the template names it, else a
// query parameter). Registered structures and enumerations become schemas under components/schemas;
// an enumeration is a string of its enumerator names. Every operation may fail with the front door's
// failure shape, the schema "GoxHostFailure". Endpoints with a custom method have no OpenAPI method and
// are listed under the extension "x-custom-methods"; the module's events under "x-events".

#pragma once

#include <string>
#include <string_view>

#include "host/api_description.h"
#include "host/json_value.h"

namespace GoxHostApp {

// The document for `description`; `title` and `version` fill its info object.
[[nodiscard]] GoxHost::JsonValue BuildOpenApi(const GoxHost::ApiDescription& description,
                                              std::string_view title, std::string_view version);

}  // namespace GoxHostApp
