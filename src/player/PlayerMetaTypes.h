#pragma once

// Registers the types that the player's signals carry across threads
// (LatticeRatio, LatticePath, QList<float>) so that queued connections can
// deliver them. Called once by the start-up, before any connection is made;
// calling it again does no harm. GUI thread.
void registerPlayerMetaTypes();
