#pragma once

#include <string>
#include <string_view>

// Where the bench works: a folder of its own under the user's temporary folder. The tool's real
// watch folder holds exports not yet copied on a practice PC, so the bench never goes near it;
// Form1 is handed these folders instead.
namespace ordovan::bench {

// %TEMP%\OrdovanBench\<name>, created by whoever fills it.
std::wstring BenchFolder(std::wstring_view name);

// The same with a number appended, for trees of different sizes side by side ("PACS1000").
std::wstring BenchFolder(std::wstring_view name, int number);

}  // namespace ordovan::bench
