// The decode path's entry into the analyzer framework.
#pragma once
#include <cstdint>

#include "codara/codara.h"

namespace codara {

// Scores edges 0 .. len-1 of ir->buf with every enabled analyzer, exactly as
// calling analyze_edge for each edge in turn would (log lines included), sets
// ir->count to len and returns analyze_finish's verdict. Does not reset.
rc_proto analyze_capture(ir_t *ir, uint16_t len);

// analyze_capture followed by reset_analyzer, in one walk over the analyzers, when
// nothing logs in between (level below debug) and every analyzer is a built-in.
// Returns false, having done nothing, otherwise.
bool analyze_and_reset(ir_t *ir, uint16_t len, rc_proto *verdict);

// The scoring part of analyze_capture: leaves ir->count at len, calls no finish.
void score_capture_edges(ir_t *ir, uint16_t len);

// The enabled analyzer with the smallest penalty (the earlier one on a tie), or null.
IR_PROTOCOL_ANALYZER *closest_analyzer();

// Whether the record is one of the extended protocols' analyzers.
bool extended_analyzer(const IR_PROTOCOL_ANALYZER *a);

// Drops every analyzer but the extended protocols' from the current capture.
void leave_extended_analyzers_only();

}  // namespace codara
