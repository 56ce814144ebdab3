#pragma once

// Lets pending window events run once. Other handlers may run inside it.
void PumpEvents();
