// A plain pause of the calling thread, for the fixed waits between blocks and between polls.
#pragma once

void PauseMs(int milliseconds);
