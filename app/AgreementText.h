// The terms of use that the agreement window shows: five constant pieces (410, 227, 1,611, 1,274
// and 153 bytes of code page 932, the first four ending in CR LF), joined left to right.
#pragma once

#include "framework/CString.h"

inline constexpr int kAgreementPieceCount = 5;

extern const char* const AgreementPieces[kAgreementPieceCount];

// Piece 1 + piece 2 + ... + piece 5: 3,675 bytes.
CString JoinAgreementText();
