// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The board's web pages: plain HTML with the charts as inline SVG, made on the server;
// no script, one column on a phone. Every name is escaped.
#include <string>
#include <vector>

#include "store.h"

struct BoardTables {
  GameMode mode;
  std::vector<BoardEntry> allTime;
  std::vector<BoardEntry> thisWeek;
  std::vector<int64_t> spread;  // games per bin, from 0 points to `best`
  int best = 0;
};

std::string BoardPage(const std::vector<BoardTables>& tables);
std::string PlayerPage(const std::string& name, const std::vector<BoardEntry>& entries);
// A bar chart of how the scores of a mode spread (SVG, no script).
std::string SpreadChart(const std::vector<int64_t>& bins, int best);
// "2026-12-09" for a time in seconds since 1970 (UTC).
std::string DateOf(int64_t at);
