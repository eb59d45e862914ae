#pragma once
// Named points where a test runs code of its own, to put another thread
// exactly where a race would strike. Compiled in only when the build defines
// QV_TEST_SEAMS (the test configuration does); elsewhere a point is nothing.
//
//     QV_SEAM("stop decided");                          // in the library
//     qv_seam::hook("stop decided", [&] { ... });       // in a test, before
//     qv_seam::clear();                                 // and after it
//
// A hook runs on the thread that reaches the point, each time it does.

#ifdef QV_TEST_SEAMS

#include <functional>

namespace qv_seam {

void hook(const char* point, std::function<void()> action);
void clear();
void reach(const char* point);

}  // namespace qv_seam

#define QV_SEAM(point) ::qv_seam::reach(point)

#else

#define QV_SEAM(point) static_cast<void>(0)

#endif
