#pragma once

#include <gtest/gtest.h>

#include <exception>
#include <typeinfo>

// Expects the statement to raise exactly the error class E with exactly this message.
#define EXPECT_DIB_ERROR(statement, E, text)                                                     \
    do {                                                                                         \
        try {                                                                                    \
            statement;                                                                           \
            ADD_FAILURE() << "no error raised, expected: " << (text);                            \
        } catch (const E &e) {                                                                   \
            EXPECT_EQ(typeid(e), typeid(E)) << "a subclass was raised: " << typeid(e).name();    \
            EXPECT_STREQ(e.what(), text);                                                        \
        } catch (const std::exception &e) {                                                      \
            ADD_FAILURE() << "wrong error class: " << typeid(e).name() << " " << e.what();       \
        }                                                                                        \
    } while (false)
