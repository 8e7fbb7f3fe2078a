#pragma once

// orvanta-service --fetch: the daily bars of the whole market, day by day, from the exchange's
// data API into the data folder's bar store, resumable at any point.

class TFetchClock;

//! True when the command line asks for a fetch.
bool IsFetchCommand(int argc, char** argv);

//! Runs the fetch, its rate kept on `clock`; answers the process's exit status: 0 all fetched,
//! 1 a local failure, 2 the source stopped it, 64 a bad command line or no key, 130/143
//! interrupted.
int RunFetchCommand(int argc, char** argv, TFetchClock& clock);
