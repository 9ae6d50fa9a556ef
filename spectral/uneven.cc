// Stand-in until the uneven-record estimator joins: every call is refused.
#include "spectral/uneven.h"

namespace quorvane::spectral {

Status spec_uneven(std::span<const double> /*time*/, std::span<const float> /*y*/,
                   const SpecSettings& /*settings*/, SpecResults& /*out*/,
                   const MessageSink& /*sink*/) {
  return Status::failure(" This analysis is not built yet.");
}

}  // namespace quorvane::spectral
