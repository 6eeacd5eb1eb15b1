#pragma once
// A simulated board made from config text, as the sim tests use it.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "sim/Board.h"
#include "sim/SimConfig.h"

namespace tavrel::sim::test {

// Nothing (after a test failure naming the error) when the text is not a valid board.
inline std::unique_ptr<Board> MakeBoard(const std::string& configText) {
    std::string error;
    auto config = ParseSimConfig(configText, error);
    EXPECT_TRUE(config) << error;
    if (!config) return nullptr;
    auto board = Board::Create(*config, error);
    EXPECT_TRUE(board) << error;
    return board;
}

}  // namespace tavrel::sim::test
