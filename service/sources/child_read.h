#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// A sheet read by a library we cannot fix runs in a child process of its own: whatever a
// crafted file makes the library do to memory, the worst outcome here is a refused file.

//! A sheet's cells, UTF-8, row by row.
using TSheetCells = std::vector<std::vector<std::string>>;

//! What the child may use and what the parent accepts from it.
struct TChildReadLimits
{
    std::size_t MaxCells = 0;             //!< rows and cells together, as the child's grid counts them
    std::size_t MaxCellBytes = 0;         //!< the text of all cells
    std::size_t MemoryBytes = 0;          //!< address space the child may add to what it inherits
    int CpuSeconds = 0;                   //!< the child's processor time
    std::chrono::milliseconds Deadline{}; //!< wall clock from the start until the child has ended
};

//! A refusal of the reading function's own: its text crosses to the parent unchanged.
class TChildRefusal : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

//! The read ended without an answer: the child died, exited otherwise than after its answer,
//! outlived the deadline or sent what is no answer within the limits. what() says which.
class TChildReadFailure : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

//! Runs `read` in a forked child under `limits` and returns the cells it read. A TChildRefusal
//! thrown by `read` is thrown here with the same text; any other end throws TChildReadFailure.
//! The child is always reaped. The child only runs `read` and writes to a pipe, but `read` may
//! allocate: with other threads in this process, a lock one of them held at the fork may block
//! the child until its deadline, which ends as a refusal, never as a hang.
TSheetCells CellsReadInChild(const std::function<TSheetCells()>& read, const TChildReadLimits& limits);

//! The cells of a child's answer as written by the child: refused with TChildReadFailure when it
//! is cut short, longer than it says, or beyond the limits' cells and text; a refusal the child
//! sent is thrown as a TChildRefusal.
TSheetCells CellsOfChildAnswer(std::string_view answer, const TChildReadLimits& limits);

//! The child's answer for `cells`, or for a refusal when `refusal` is not empty.
std::string ChildAnswerOf(const TSheetCells& cells, std::string_view refusal = {});
