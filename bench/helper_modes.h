#pragma once

// What the bench's helper processes do: give the CPU probe a known load, and show what a bare
// window costs under the same Windows (or Wine) as the tool.
namespace ordovan::bench {

// Keeps one core busy for that long.
void Spin(int milliseconds);

// One plain window and its message loop, nothing else, until the thread is told to quit.
int RunIdleWindow();

}  // namespace ordovan::bench
