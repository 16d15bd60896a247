#pragma once

namespace vantrel::tools {

// What a camera's tools ask of its event source for one slice of the stream.
struct SourceControls {
    double rate_scale = 1.0;  // bias: multiplies the source's event rate
};

}  // namespace vantrel::tools
