// An in-memory serial line for the fuzz targets: the fuzz input plays the
// device. It stands in for the platform back end at link time, so the
// protocol code runs unchanged.
//
// The input is a sequence of answers separated by kAnswerSeparator. A write
// makes the next answer arrive unless one is still waiting to be read; a read
// that finds nothing waiting takes the next one as well (a device that
// answers late or in pieces). When the
// input is used up the line reports a pulled cable, so no wait ever sits out
// its time-out.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fake_line {

constexpr char kAnswerSeparator = '\x1e';

// Serves data (which must outlive the run) from the start; drops anything
// still queued from the previous run.
void Serve(const uint8_t* data, std::size_t size);

}  // namespace fake_line
