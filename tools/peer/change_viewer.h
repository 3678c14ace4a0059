// The viewer's side of the change stream for the tools and tests: a held
// copy of the file image that a whole picture replaces and a change message
// (docs/protocol.md) is applied to, checked whole first as the page does.
#pragma once

#include <cstdint>
#include <vector>

// Applies one message to held: a whole picture ("BM") replaces it, a change
// message changes the spans it names. False, held unchanged, when the
// message cannot be applied (the viewer must then reconnect).
bool applyStreamMessage(std::vector<uint8_t>* held, const std::vector<uint8_t>& message);
