// Stand-in until the missing-data estimator joins: every call is refused.
#include "spectral/gaps.h"

namespace quorvane::spectral {

Status spec_gaps(std::span<const std::int64_t> /*index*/, std::span<const float> /*y*/,
                 const SpecSettings& /*settings*/, SpecResults& /*out*/,
                 const MessageSink& /*sink*/) {
  return Status::failure(" This analysis is not built yet.");
}

}  // namespace quorvane::spectral
