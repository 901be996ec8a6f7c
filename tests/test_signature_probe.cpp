// The lopwort-signature probe as its users see it: names from the arguments
// or from standard input, one result line each, the optional dump, and the
// exit status.
#include "cli.h"

#include <gtest/gtest.h>

#include <cctype>

namespace {

RunResult probe(const std::vector<std::string>& args, const std::string* input = nullptr) {
    RunOptions options;
    if (input != nullptr) {
        options.input = *input;
        options.hasInput = true;
    }
    return runProgram(LOPWORT_SIGNATURE_BIN, args, options);
}

TEST(SignatureProbe, OneLinePerArgument) {
    RunResult r = probe({"_ZN1AIiE1fIcEEvT_", "_ZTV1A", "main"});
    EXPECT_EQ(r.out, "_ZN1AIiE1fIcEEvT_\tok\t_ZN1AIiEE\t_ZN1A1fIEEv2T0\t_ZN1AIiE1fIcEEvT_"
                     "\t_ZN1fIcEEvT_\t4\n"
                     "_ZTV1A\tok\t_ZN1AE\t-\t-\t-\t1\n"
                     "main\tok\t-\t-\tmain\tmain\t0\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

TEST(SignatureProbe, AnyFailureMakesTheStatusOne) {
    RunResult r = probe({"_Z1fv", "_Z1fv.clone", "_Z4abc"});
    EXPECT_EQ(r.out, "_Z1fv\tok\t-\t-\t_Z1fv\t_Z1fv\t0\n"
                     "_Z1fv.clone\tfail\n"
                     "_Z4abc\tfail\n");
    EXPECT_EQ(r.status, 1);
}

TEST(SignatureProbe, StandardInputGivesOneNamePerLineEmptyOnesIncluded) {
    std::string input = "_Z1fv\n\n_Z0fv\n_ZTV1A";
    RunResult r = probe({}, &input);
    EXPECT_EQ(r.out, "_Z1fv\tok\t-\t-\t_Z1fv\t_Z1fv\t0\n"
                     "\tok\t-\t-\t\t\t0\n"
                     "_Z0fv\tfail\n"
                     "_ZTV1A\tok\t_ZN1AE\t-\t-\t-\t1\n");
    EXPECT_EQ(r.status, 1);

    std::string empty;
    r = probe({}, &empty);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 0);
}

TEST(SignatureProbe, ALineHoldingANulByteFails) {
    std::string input = std::string("_Z1fv\0x\n_Z1fv\n", 13);
    RunResult r = probe({}, &input);
    EXPECT_EQ(r.out, std::string("_Z1fv\0x\tfail\n", 13) + "_Z1fv\tok\t-\t-\t_Z1fv\t_Z1fv\t0\n");
    EXPECT_EQ(r.status, 1);
}

TEST(SignatureProbe, DumpFollowsEachParsedName) {
    RunResult r = probe({"-d", "_Z3abc", "_Z4abc"});
    std::string expected = "_Z3abc\tok\t-\t-\t_Z3abc\t_Z3abc\t0\n"
                           "9 nodes in signature\n"
                           "root \"_Z3abc\"\n"
                           "  mangled_name \"_Z3abc\"\n"
                           "    encoding \"3abc\"\n"
                           "      name \"3abc\"\n"
                           "        unscoped_name \"3abc\"\n"
                           "          unqualified_name \"3abc\"\n"
                           "            source_name \"3abc\"\n"
                           "              number \"3\" (3)\n"
                           "              identifier \"abc\"\n"
                           "_Z4abc\tfail\n";
    std::string out;
    // Addresses differ from run to run.
    for (size_t i = 0; i < r.out.size(); ++i) {
        if (r.out.compare(i, 2, "0x") == 0) {
            i += 2;
            while (isxdigit(static_cast<unsigned char>(r.out[i])))
                ++i;
            continue; // the blank after the address goes too
        }
        out += r.out[i];
    }
    EXPECT_EQ(out, expected);
    EXPECT_EQ(r.status, 1);
}

TEST(SignatureProbe, UnknownOptionsAreUsageErrors) {
    RunResult r = probe({"-x", "_Z1fv"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "lopwort-signature: unknown option -x\n"
                     "usage: lopwort-signature [-d] [NAME...]\n");
    EXPECT_EQ(r.status, 2);

    // After "--" a name may begin with a dash (an unmangled name).
    r = probe({"--", "-x"});
    EXPECT_EQ(r.out, "-x\tok\t-\t-\t-x\t-x\t0\n");
    EXPECT_EQ(r.status, 0);
}

} // namespace
