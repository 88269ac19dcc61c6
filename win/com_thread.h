#pragma once

namespace ondelle {

// Joins this thread to the multithreaded apartment, once per thread; the result does not
// matter (a thread already in an apartment works on).
void initialize_com_for_thread();

}  // namespace ondelle
