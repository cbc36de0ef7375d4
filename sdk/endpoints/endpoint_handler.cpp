#include "sdk/endpoints/endpoint_handler.h"

namespace Quarn {

void EndpointHandler::Reserved() {}

void EndpointHandler::Attach(const TypeRegistry&, const FunctionInfo&) {}

std::vector<FunctionArgument> EndpointHandler::Parameters(const TypeRegistry&) const {
  return {};
}

TypeDescriptor EndpointHandler::Returns(const TypeRegistry&) const {
  return {};
}

}  // namespace Quarn
