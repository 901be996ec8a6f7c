// The mangled-name parser and its renderings: which names parse and into what
// (node counts, dictionary entries, node values), which fail, the four
// renderings and the comparisons built on them, the dump, the node store's
// growth, and hostile names that must fail cleanly.
#include "signature.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace {

std::string span(const Csignature_node* nodeP) {
    return std::string(nodeP->m_startP, nodeP->m_endP);
}

std::vector<std::string> dictionary(const Csignature& s) {
    std::vector<std::string> entries;
    for (const Csignature_node* nodeP = s.m_headP; nodeP != nullptr; nodeP = nodeP->m_nextP)
        entries.push_back(span(nodeP));
    return entries;
}

// The first node of the type in text order, not following references.
const Csignature_node* find(const Csignature_node* nodeP, signature_type type) {
    if (nodeP->m_type == type)
        return nodeP;
    if (nodeP->m_type == SIGNATURE_substitution)
        return nullptr;
    for (const Csignature_node* childP = nodeP->m_childP; childP; childP = childP->m_siblingP)
        if (const Csignature_node* foundP = find(childP, type))
            return foundP;
    return nullptr;
}

std::string dump_text(const Csignature& s) {
    char* bufferP = nullptr;
    size_t lth = 0;
    FILE* F = open_memstream(&bufferP, &lth);
    s.dump(F);
    fclose(F);
    std::string text(bufferP, lth);
    free(bufferP);
    return std::regex_replace(text, std::regex("0x[0-9a-f]+ "), "");
}

// Every node lies within its parent and its children follow one another in
// text order; substitutions refer to dictionary entries.
void check_tree(const Csignature_node* nodeP) {
    ASSERT_NE(nodeP->m_endP, nullptr);
    ASSERT_LE(nodeP->m_startP, nodeP->m_endP);
    if (nodeP->m_type == SIGNATURE_substitution)
        return;
    const char* p = nodeP->m_startP;
    for (const Csignature_node* childP = nodeP->m_childP; childP; childP = childP->m_siblingP) {
        ASSERT_EQ(childP->m_parentP, nodeP);
        ASSERT_LE(p, childP->m_startP);
        check_tree(childP);
        p = childP->m_endP;
    }
    ASSERT_LE(p, nodeP->m_endP);
}

// A copy in a heap block of exactly its size, so that AddressSanitizer sees
// any read past the terminating NUL.
std::unique_ptr<char[]> exact_copy(const std::string& text) {
    std::unique_ptr<char[]> copyP(new char[text.size() + 1]);
    memcpy(copyP.get(), text.c_str(), text.size() + 1);
    return copyP;
}

// The reference to dictionary position p: S_, then S0_, S1_... in base 36.
std::string seq(int position) {
    if (position == 0)
        return "S_";
    std::string digits;
    for (int v = position - 1;; v /= 36) {
        digits.insert(digits.begin(), "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"[v % 36]);
        if (v < 36)
            break;
    }
    return "S" + digits + "_";
}

std::string repeat(const std::string& text, int n) {
    std::string out;
    for (int i = 0; i < n; ++i)
        out += text;
    return out;
}

const char* orNull(const char* p) {
    return p != nullptr ? p : "(null)";
}

// ------------------------------------------------------------ grammar tables

struct Accepted {
    const char* text;
    long nodes; // -1: not checked
    std::vector<std::string> dictionary;
};

const Accepted kAccepted[] = {
    // names
    {"_Z1fv", 11, {}},
    {"main", 2, {}},
    {"", 2, {}},
    {"_Z3abc", 9, {}},
    {"_ZN1A1fEv", 16, {"1A"}},
    {"_ZNK1A1fEv", 17, {"K1A"}},
    {"_ZN1AIiE1fEv", 20, {"1A", "1AIiE"}},
    {"_ZN1A1B1fEv", -1, {"1A", "1A1B"}},
    {"_ZN1AD0Ev", -1, {"1A"}},
    {"_ZN1AD2Ev", -1, {"1A"}},
    {"_ZN1AC1Ev", -1, {"1A"}},
    {"_ZN1AC3Ev", -1, {"1A"}},
    {"_ZN1AaSERKS_", -1, {"1A", "KS_", "RKS_"}},
    {"_ZN1AcviEv", -1, {"1A"}},
    {"_ZN1Av23fooEv", -1, {"1A"}},
    {"_ZZ1fvE1x", -1, {}},
    {"_ZZ1fvEs", -1, {}},
    {"_ZZ1fvE1x_0", -1, {}},
    {"_ZZ1fvEd_1x", -1, {}},
    {"_ZN1A3fooMUlvE_E", -1, {"1A", "1A3fooM"}},
    {"_ZN1AUt_E", -1, {"1A"}},
    {"_ZN1AUt3_E", -1, {"1A"}},
    {"_ZN12_GLOBAL__N_11fEv", -1, {"12_GLOBAL__N_1"}},
    {"_ZL1fv", 11, {}},
    {"_ZN1A1B1CE", -1, {"1A", "1A1B"}},
    {"_ZNSt6vectorIiE1fEv", -1, {"St6vector", "St6vectorIiE"}},
    {"_ZSt4endlIcSt11char_traitsIcEERSt13basic_ostreamIT_T0_ES6_",
     -1,
     {"St4endl", "St11char_traits", "St11char_traitsIcE", "St13basic_ostream", "T_", "T0_",
      "St13basic_ostreamIT_T0_E", "RSt13basic_ostreamIT_T0_E"}},
    {"_ZN1A1fIiEEvT_", -1, {"1A", "1A1f", "T_"}},
    {"_ZN1AIS_E1fEv", -1, {"1A", "1AIS_E"}},
    {"_ZNT_1fEv", -1, {"T_"}},
    // a substitution with template arguments is a new entry; a bare one not
    {"_ZNSaIcEC1ERKS_", -1, {"SaIcE", "KS_", "RKS_"}},
    {"_ZNSbIwSt11char_traitsIwESaIwEE4swapERS2_",
     -1,
     {"St11char_traits", "St11char_traitsIwE", "SaIwE", "SbIwSt11char_traitsIwESaIwEE",
      "RS2_"}},
    {"_ZN1AIiE1fENS_IcE1gE", -1, {"1A", "1AIiE", "S_IcE", "NS_IcE1gE"}},
    {"_ZNSs4swapERSs", -1, {"RSs"}},
    {"_ZNDtfp_EE", -1, {}},
    // special names
    {"_ZTV1A", -1, {"1A"}},
    {"_ZTIN1A1BE", -1, {"1A", "N1A1BE"}},
    {"_ZTC1A0_1B", -1, {"1A", "1B"}},
    {"_ZThn8_N1A1fEv", -1, {"1A"}},
    {"_ZTv0_n12_N1A1fEv", -1, {"1A"}},
    {"_ZTch0_h4_N1A1fEv", -1, {"1A"}},
    {"_ZGVZ1fvE1x", -1, {}},
    {"_ZGR1x", -1, {}},
    {"_ZGA1fv", -1, {}},
    {"_ZGr4_abcd", -1, {}},
    // types
    {"_Z1fPKc", -1, {"Kc", "PKc"}},
    {"_Z1fRA10_i", -1, {"A10_i", "RA10_i"}},
    {"_Z1fPiS_", -1, {"Pi"}},
    {"_Z1fIiEvT_S_", -1, {"1f", "T_"}},
    {"_Z1fIiEvT_IiE", -1, {"1f", "T_", "T_IiE"}},
    {"_Z1fSs", -1, {}},
    {"_Z1fSaIcE", -1, {"SaIcE"}},
    {"_Z1fSt4pair", -1, {"St4pair"}},
    {"_Z1fDv4_f", -1, {}},
    {"_Z1fDn", -1, {}},
    {"_Z1fDpT_", -1, {"T_"}},
    {"_Z1fM1AFvvE", -1, {"1A", "FvvE", "M1AFvvE"}},
    {"_Z1fM1AKFvvE", -1, {"1A", "FvvE", "M1AKFvvE"}},
    {"_Z1fM1AKi", -1, {"1A", "Ki", "M1AKi"}},
    {"_Z1fFYvvE", -1, {"FYvvE"}},
    {"_Z1fJiv", -1, {}},
    {"_Z1fIJEEvv", -1, {"1f"}},
    {"_Z1fIJicEEvv", -1, {"1f"}},
    {"_Z1fDF16i15s", -1, {}},
    {"_Z1fu3foo", -1, {"u3foo"}},
    {"_Z1fU3fooi", -1, {"U3fooi"}},
    {"_Z1fCdGdOi", -1, {"Cd", "Gd", "Oi"}},
    {"_Z1fA_i", -1, {"A_i"}},
    {"_Z1fDv_Li4E_f", -1, {}},
    {"_Z1fPDaDdDeDfDhDiDs", -1, {"PDa"}},
    // expressions
    {"_Z1fILi3EEvv", -1, {"1f"}},
    {"_Z1fILin3EEvv", -1, {"1f"}},
    {"_Z1fILDnEEvv", -1, {"1f"}},
    {"_Z1fILd400921fb54442d18EEvv", -1, {"1f"}},
    {"_Z1fIXplT_Li1EEEvv", -1, {"1f"}},
    {"_Z1fIiEDTcl1gfp_EET_", 30, {"1f", "T_"}},
    {"_Z1fIiEDTcvT__EET_", -1, {"1f", "T_", "T_"}},
    {"_Z1fIiEDTcvT__Li1EEET_", -1, {"1f", "T_", "T_"}},
    {"_Z1fIiEvPAstT__i", -1, {"1f", "T_", "AstT__i", "PAstT__i"}},
    {"_Z1fIiEvPAtiT__i", -1, {"1f", "T_", "AtiT__i", "PAtiT__i"}},
    {"_Z1fIiEDTdtfp_dn1AET_", -1, {"1f", "T_"}},
    {"_Z1fIiEDTquT_Li1ELi2EET_", -1, {"1f", "T_"}},
    {"_Z1fIiEDTazT_ET_", -1, {"1f", "T_"}},
    {"_Z1fIiEDTgsnw_T_EET_", -1, {"1f", "T_", "T_"}},
    {"_Z1fIiEDTnw_T_piLi1EEET_", -1, {"1f", "T_", "T_"}},
    {"_Z1fIiEDTgssr1AE1xET_", -1, {"1f", "T_"}},
    {"_Z1fIiEDTsrNT_1BE1xET_", -1, {"1f", "T_", "T_"}},
    {"_Z1fIiEDTsrT_1xET_", -1, {"1f", "T_", "T_"}},
    {"_Z1fIiEDTL_Z1gvEET_", -1, {"1f", "T_"}},
    {"_Z1fIiEDTtrET_", -1, {"1f", "T_"}},
    {"_Z1fIiEDTmm_fp_ET_", -1, {"1f", "T_"}},
    {"_Z1fIiEDTppfp_ET_", -1, {"1f", "T_"}},
    {"_Z1fIiEDTsZT_ET_", -1, {"1f", "T_"}},
    {"_Z1fIiEDTsZfL0p_ET_", -1, {"1f", "T_"}},
    {"_Z1fIiEDTonplIiEET_", -1, {"1f", "T_"}},
    {"_Z1fIiEDTdtfp_onplET_", -1, {"1f", "T_"}},
    {"_Z1fIiEDTdtfp_dnT_ET_", -1, {"1f", "T_", "T_"}},
    {"_Z1fIiEDTv21gfp_fp_ET_", -1, {"1f", "T_"}},
    {"_Z1fIiEDTscT_fp_ET_", -1, {"1f", "T_", "T_"}},
    {"_Z1fIiEDTdsfp_fp_ET_", -1, {"1f", "T_"}},
    {"_Z1fIiEDTdlfp_ET_", -1, {"1f", "T_"}},
    {"_Z1fIiEDTtwfp_ET_", -1, {"1f", "T_"}},
    // ABI tags
    {"_ZNK4Base4nameB5cxx11Ev", 21, {"K4Base"}},
    {"_Z3fooB5cxx11v", -1, {}},
    {"_ZN1A1fB3abiB3defEv", -1, {"1A"}},
    {"_ZN1AcvNSt7__cxx1112basic_stringIcEEB5cxx11Ev",
     -1,
     {"1A", "St7__cxx11", "St7__cxx1112basic_string", "NSt7__cxx1112basic_stringIcEE"}},
    // ref-qualified member functions: the qualifier shares the node of the
    // cv-qualifiers, and so the first prefix
    {"_ZNKR1A1fEv", 17, {"KR1A"}},
    {"_ZNR1A1fEv", 17, {"R1A"}},
    {"_ZNVKO2ns1A1fEv", -1, {"VKO2ns", "VKO2ns1A"}},
    {"_ZZ4mainENR1A1fEv", -1, {"R1A"}},
    {"_ZZNO1A1fEvE1x", -1, {"O1A"}},
    {"_ZThn8_NR1A1fEv", -1, {"R1A"}},
    {"_Z1gIL_ZNR1A1fEvEEvv", -1, {"1g", "R1A"}},
    // members of local classes
    {"_ZZ4mainEN1A2eqE_0RKS_", -1, {"1A", "KS_", "RKS_"}},
    {"_ZZ4mainEN1A1fEZ4mainENS_2InEZ4mainENS0_4DeepE",
     -1,
     {"1A", "Z4mainENS_2InE", "Z4mainENS0_4DeepE"}},
};

const char* const kRejected[] = {
    // malformed names
    "_Z", "_ZN", "_ZN1A", "_ZN1AD3Ev", "_ZN1AC0Ev", "_ZN1AC", "_ZN1AD", "_Z0fv", "_Z4abc",
    "_Z1fv.clone", "_Zn1fv", "_ZZ1fvE", "_ZZ1fv1x", "_ZN1Aqq1fEv", "_ZN1AUx_E", "_ZN1AU",
    "_ZN1AUlE_E", "_ZN1AUt", "_ZN1AUtx_E", "_Z1fB", "_Z1fBv", "_ZN1Av",
    "_ZN1Av2", "_ZN1Av2E", "_ZZ1fvE1x_n1",
    // special names
    "_ZTW1x", "_ZTH1x", "_ZGTt1fv", "_ZTA1x", "_ZT", "_ZG", "_ZThn8_", "_ZThx8_N1A1fEv",
    "_ZTh8N1A1fEv", "_ZTv0_N1A1fEv", "_ZTc", "_ZGr", "_ZGr0_", "_ZGr1_", "_ZGr4_abc",
    // substitutions
    "_Z1fS_", "_ZN1AC2ERKS0_", "_Z1fN1A1BES1_", "_Z1fS", "_Z1fSx", "_Z1fS0", "_Z1fSa0_",
    "_Z1fSZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZ_",
    // types
    "_Z1fk", "_Z1fp", "_Z1fq", "_Z1f_", "_Z1fIE", "_Z1fDu", "_Z1fDc", "_Z1fDx", "_Z1fD",
    "_Z1fDF16_", "_Z1fDF16i15", "_Z1fDv", "_Z1fDv4", "_Z1fDv4_", "_Z1fA", "_Z1fA1", "_Z1fM1A",
    "_Z1fFE", "_Z1fFv", "_Z1fIi", "_Z1fIJiE", "_Z1fP", "_Z1fK", "_Z1fu", "_Z1fU3foo",
    "_Z1fT", "_Z1fTx", "_Z1fRFvvOE",
    // ref-qualifiers: once, after the cv-qualifiers, and only on a function
    "_ZNRR1A1fEv", "_ZNRK1A1fEv", "_ZNOR1A1fEv", "_ZNR1A1xE", "_ZNR1A1fE", "_Z1fNR1A1BE",
    "_Z1fN1AINO1BEEE", "_ZZNR1A1fEE1x", "_ZTVNR1AE", "_ZTINO1A1BE", "_ZGVNR1A1xE", "_ZN1AR1fEv",
    // expressions
    "_Z1fIXEEvv", "_Z1fIXplLi1EEEvv", "_Z1fIL_Z1gvEvv", "_ZNDtfp_E1fEv",
    "_Z1fIiEDTgsdlfp_ET_", "_Z1fIiEDTsrN1A1BE1xET_", "_Z1fIiEDTgssrN1A1BE1xET_",
    "_Z1fIiEDTxxET_", "_Z1fIiEDTfx_ET_", "_Z1fIiEDTfLxp_ET_", "_Z1fIiEDTnw_T_pE",
    "_Z1fIiEDTsr1AE1xET_", "_Z1fIiEDTcl", "_Z1fIiEDTg", "_Z1fIiEDTgx", "_Z1fIiEDTs", "_Z1fIiEDTsx",
    "_Z1fIiEDTdx1AET_", "_Z1fIiEDTox", "_Z1fIiEDTdt", "_Z1fIiEDTonxxET_", "_Z1fIiEDTsrT_IiE1xET_",
    // numbers beyond 64 bits
    "_Z99999999999999999999a", "_ZTh99999999999999999999_N1A1fEv", "_Z1fT99999999999999999999_",
    // stray bytes
    "_Z\x01", "_Z1f\xff", "_Z\xff",
};

TEST(SignatureGrammar, AcceptedNamesParseIntoTheExpectedTreeAndDictionary) {
    Csignature s;
    for (const Accepted& row : kAccepted) {
        SCOPED_TRACE(row.text);
        auto textP = exact_copy(row.text);
        const char* endP = s.signature(textP.get());
        ASSERT_NE(endP, nullptr);
        EXPECT_EQ(endP, textP.get() + strlen(row.text));
        if (row.nodes >= 0) {
            EXPECT_EQ(s.node_count(), row.nodes);
        }
        EXPECT_EQ(dictionary(s), row.dictionary);
        EXPECT_EQ(s.dictionary_count(), static_cast<int>(row.dictionary.size()));
        const Csignature_node* rootP = s.m_nodeP;
        EXPECT_EQ(rootP->m_type, SIGNATURE_root);
        EXPECT_EQ(span(rootP), row.text);
        ASSERT_NE(rootP->m_childP, nullptr);
        EXPECT_EQ(rootP->m_childP->m_type, SIGNATURE_mangled_name);
        EXPECT_EQ(rootP->m_childP->m_siblingP, nullptr);
        check_tree(rootP);
    }
}

TEST(SignatureGrammar, RejectedNamesFailAndLeaveNoTree) {
    Csignature s;
    for (const char* text : kRejected) {
        SCOPED_TRACE(text);
        auto textP = exact_copy(text);
        EXPECT_EQ(s.signature(textP.get()), nullptr);
        EXPECT_EQ(s.node_count(), 0);
        EXPECT_EQ(s.dictionary_count(), 0);
        EXPECT_EQ(s.get_function(), nullptr);
        EXPECT_EQ(s.get_classname(), nullptr);
    }
    EXPECT_EQ(s.signature(nullptr), nullptr);
}

// Every truncation of a valid name sits in a block of exactly its size, so
// that a look-ahead past the NUL would be caught.
TEST(SignatureGrammar, TruncatedNamesNeverReadPastTheEnd) {
    Csignature s;
    for (const Accepted& row : kAccepted) {
        std::string text = row.text;
        for (size_t lth = 0; lth < text.size(); ++lth) {
            auto textP = exact_copy(text.substr(0, lth));
            if (s.signature(textP.get()) != nullptr) {
                check_tree(s.m_nodeP);
                s.get_classname();
                s.get_template();
                s.get_function();
                s.get_function_name();
            }
        }
    }
}

TEST(SignatureGrammar, NodeValues) {
    Csignature s;
    ASSERT_NE(s.signature("_ZN1AaSERKS_"), nullptr);
    EXPECT_EQ(find(s.m_nodeP, SIGNATURE_operator_name)->m_value, 1);
    const Csignature_node* substitutionP = find(s.m_nodeP, SIGNATURE_substitution);
    EXPECT_EQ(substitutionP->m_value, 0);
    EXPECT_EQ(span(substitutionP->m_childP), "1A");
    EXPECT_EQ(substitutionP->m_childP->m_type, SIGNATURE_prefix);

    ASSERT_NE(s.signature("_ZN1AcviEv"), nullptr);
    const Csignature_node* operatorP = find(s.m_nodeP, SIGNATURE_operator_name);
    EXPECT_EQ(operatorP->m_value, -2);
    EXPECT_EQ(span(find(operatorP, SIGNATURE_type)), "i");

    ASSERT_NE(s.signature("_ZN1Av23fooEv"), nullptr);
    operatorP = find(s.m_nodeP, SIGNATURE_operator_name);
    EXPECT_EQ(operatorP->m_value, -1);
    EXPECT_EQ(find(operatorP, SIGNATURE_digit)->m_value, 2);

    ASSERT_NE(s.signature("_ZN1A1fEPKcS1_"), nullptr);
    substitutionP = find(s.m_nodeP, SIGNATURE_substitution);
    EXPECT_EQ(substitutionP->m_value, 2);
    EXPECT_EQ(span(substitutionP->m_childP), "PKc");

    ASSERT_NE(s.signature("_ZNSt6vectorIiE1fEv"), nullptr);
    substitutionP = find(s.m_nodeP, SIGNATURE_substitution);
    EXPECT_EQ(span(substitutionP), "St");
    EXPECT_EQ(substitutionP->m_value, -1);
    EXPECT_EQ(substitutionP->m_childP, nullptr);

    ASSERT_NE(s.signature("_ZZ1fvE1x_12"), nullptr);
    EXPECT_EQ(find(find(s.m_nodeP, SIGNATURE_discriminator), SIGNATURE_number)->m_value, 12);

    ASSERT_NE(s.signature("_ZTv0_n12_N1A1fEv"), nullptr);
    const Csignature_node* offsetP = find(s.m_nodeP, SIGNATURE_call_offset);
    EXPECT_EQ(offsetP->m_childP->m_siblingP->m_value, -12);

    // Template parameters keep their compact number: T_ 0, T0_ 1, T9_ 10.
    ASSERT_NE(s.signature("_Z1fIiiiiiiiiiiEvT9_"), nullptr);
    EXPECT_EQ(find(s.m_nodeP, SIGNATURE_template_param)->m_value, 10);
    ASSERT_NE(s.signature("_Z1fIiEvT_"), nullptr);
    EXPECT_EQ(find(s.m_nodeP, SIGNATURE_template_param)->m_value, 0);
}

TEST(SignatureGrammar, SeqIdsAreBase36) {
    // 38 parameters "Pi", one entry each; each reference is appended as a
    // last parameter and must reach the entry at its position.
    std::string text = "_Z1f";
    for (int i = 0; i < 38; ++i)
        text += "Pi";
    const std::vector<std::pair<const char*, int>> refs = {
        {"S_", 0}, {"S0_", 1}, {"S9_", 10}, {"SA_", 11}, {"SZ_", 36}, {"S10_", 37}};
    Csignature s;
    for (const auto& ref : refs) {
        SCOPED_TRACE(ref.first);
        EXPECT_EQ(seq(ref.second), ref.first);
        std::string named = text + ref.first;
        ASSERT_NE(s.signature(named.c_str()), nullptr);
        const Csignature_node* typeP = find(s.m_nodeP, SIGNATURE_bare_function_type)->m_childP;
        while (typeP->m_siblingP != nullptr)
            typeP = typeP->m_siblingP;
        const Csignature_node* referenceP = typeP->m_childP;
        ASSERT_EQ(referenceP->m_type, SIGNATURE_substitution);
        EXPECT_EQ(referenceP->m_value, ref.second);
        const Csignature_node* entryP = s.m_headP;
        for (int i = 0; i < ref.second; ++i)
            entryP = entryP->m_nextP;
        EXPECT_EQ(referenceP->m_childP, entryP);
    }
    std::string beyond = text + "S11_";
    EXPECT_EQ(s.signature(beyond.c_str()), nullptr);
}

TEST(SignatureGrammar, EveryOperatorCodeIsFoundInItsRow) {
    for (int row = 0; row < 52; ++row) {
        const operatorT& op = Csignature::operators[row];
        SCOPED_TRACE(op.codeP);
        EXPECT_EQ(Csignature::lookup_operator(op.codeP[0], op.codeP[1]), &op);
        EXPECT_EQ(static_cast<int>(strlen(op.nameP)), op.lth);
        if (row > 0 && row < 50) {
            EXPECT_LT(strcmp(Csignature::operators[row - 1].codeP, op.codeP), 0);
        }
        Csignature s;
        std::string text = std::string("_ZN1A") + op.codeP + "Ev";
        ASSERT_NE(s.signature(text.c_str()), nullptr);
        EXPECT_EQ(find(s.m_nodeP, SIGNATURE_operator_name)->m_value, row);
    }
    EXPECT_EQ(Csignature::operators[52].codeP, nullptr);
    EXPECT_EQ(Csignature::lookup_operator('c', 'v'), nullptr);
    EXPECT_EQ(Csignature::lookup_operator('\0', '\0'), nullptr);
    EXPECT_EQ(Csignature::operators[43].args, 3); // qu
    EXPECT_EQ(Csignature::operators[31].args, 1); // ng
}

TEST(SignatureGrammar, TypeNames) {
    EXPECT_STREQ(signature_type_name(SIGNATURE_substitution), "substitution");
    EXPECT_STREQ(signature_type_name(51), "abi_tag");
    EXPECT_STREQ(signature_type_name(52), "???");
    EXPECT_STREQ(signature_type_name(-1), "???");
}

// ------------------------------------------------------------ store and dump

TEST(SignatureStore, GrowingGivesTheSameTree) {
    std::string big = "_Z1f" + std::string(300, 'i');
    Csignature fresh, grown;
    ASSERT_NE(fresh.signature(big.c_str()), nullptr);
    EXPECT_GT(fresh.node_count(), 256);
    ASSERT_NE(grown.signature(("_Z1f" + std::string(600, 'i')).c_str()), nullptr);
    ASSERT_NE(grown.signature(big.c_str()), nullptr);
    EXPECT_EQ(dump_text(grown), dump_text(fresh));
    ASSERT_NE(grown.signature("_Z1fv"), nullptr);
    EXPECT_EQ(grown.node_count(), 11);
}

TEST(SignatureDump, PrintsOneLinePerNodeWithSpanAndValue) {
    Csignature s;
    ASSERT_NE(s.signature("_Z1fv"), nullptr);
    EXPECT_EQ(dump_text(s), "11 nodes in signature\n"
                            "root \"_Z1fv\"\n"
                            "  mangled_name \"_Z1fv\"\n"
                            "    encoding \"1fv\"\n"
                            "      name \"1f\"\n"
                            "        unscoped_name \"1f\"\n"
                            "          unqualified_name \"1f\"\n"
                            "            source_name \"1f\"\n"
                            "              number \"1\" (1)\n"
                            "              identifier \"f\"\n"
                            "      bare_function_type \"v\"\n"
                            "        type \"v\"\n");
}

TEST(SignatureDump, SubstitutionsArePrintedAsLeaves) {
    // The S_ refers to a node whose next sibling holds the S_ itself.
    Csignature s;
    ASSERT_NE(s.signature("_ZN1AIS_E1fEv"), nullptr);
    std::string text = dump_text(s);
    EXPECT_NE(text.find("                  substitution \"S_\"\n"
                        "          unqualified_name \"1f\"\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 22);
}

TEST(SignatureDump, WithoutATreeOnlyTheCount) {
    Csignature s;
    EXPECT_EQ(dump_text(s), "0 nodes in signature\n");
    ASSERT_EQ(s.signature("_Z1f?"), nullptr);
    EXPECT_EQ(dump_text(s), "0 nodes in signature\n");
}

// ------------------------------------------------------------ renderings

struct Rendered {
    const char* text;
    const char* classname;
    const char* function;
    const char* function_name;
    const char* templ;
};

const Rendered kRendered[] = {
    {"_ZN1A1fEv", "_ZN1AE", "_ZN1A1fEv", "_ZN1fEv", nullptr},
    {"_ZNK1A1fEv", "_ZN1AE", "_ZNK1A1fEv", "_ZN1fEv", nullptr},
    {"_ZN1A1B1fEv", "_ZN1A1BE", "_ZN1A1B1fEv", "_ZN1fEv", nullptr},
    {"_ZN1AIiE1fEv", "_ZN1AIiEE", "_ZN1AIiE1fEv", "_ZN1fEv", nullptr},
    {"_ZN1A1fIiEEvT_", "_ZN1AE", "_ZN1A1fIiEEvT_", "_ZN1fIiEEvT_", "_ZN1A1fIEEv2T0"},
    {"_ZN1AIiE1fIcEEvT_", "_ZN1AIiEE", "_ZN1AIiE1fIcEEvT_", "_ZN1fIcEEvT_", "_ZN1A1fIEEv2T0"},
    {"_ZN1AD1Ev", "_ZN1AE", "_ZN1AD1Ev", "_ZND1Ev", nullptr},
    {"_ZN1AC2ERKS_", "_ZN1AE", "_ZN1AC2ERK1A", "_ZNC2ERK1A", nullptr},
    {"_ZNK1A1fERKS_", "_ZN1AE", "_ZNK1A1fERK1A", "_ZN1fERK1A", nullptr},
    {"_ZN1A1fEPKcS1_", "_ZN1AE", "_ZN1A1fEPKcPKc", "_ZN1fEPKcPKc", nullptr},
    {"_ZN1AcviEv", "_ZN1AE", "_ZN1AcviEv", "_ZNcviEv", nullptr},
    {"_ZNSt6vectorIiSaIiEE9push_backERKi", "_ZNSt6vectorIiSaIiEEE",
     "_ZNSt6vectorIiSaIiEE9push_backERKi", "_ZN9push_backERKi", nullptr},
    {"_Z1fv", nullptr, "_Z1fv", "_Z1fv", nullptr},
    {"_ZplN1A1BES0_", nullptr, "_ZplN1A1BEN1A1BE", "_ZplN1BEN1A1BE", nullptr},
    {"main", nullptr, "main", "main", nullptr},
    {"_ZTV1A", "_ZN1AE", nullptr, nullptr, nullptr},
    {"_ZTVN1A1BE", "_ZN1A1BE", nullptr, nullptr, nullptr},
    {"_ZTV1AIiE", "_ZN1AIiEE", nullptr, nullptr, nullptr},
    {"_ZTVN1A1BIiEE", "_ZN1A1BIiEE", nullptr, nullptr, "_ZN1A1BIEE"},
    {"_ZThn8_N1A1fEv", "_ZN1A1fE", nullptr, nullptr, nullptr},
    {"_ZGVZ1fvE1x", nullptr, nullptr, nullptr, nullptr},
    // a member of a class local to a function: the class is the local one,
    // the function the member itself
    {"_ZZN1A1fEvEN1B1gEv", "_ZZN1A1fEvE1B", "_ZZN1A1fEvEN1B1gEv", "_ZN1gEv", nullptr},
    // a local static variable belongs to its function and that one's class
    {"_ZZN1A1fEvE1x", "_ZN1AE", "_ZN1A1fEv", "_ZN1fEv", nullptr},
    // standard abbreviations stand for themselves
    {"_Z1fSaSbSdSiSoSsSt1x", nullptr, "_Z1fSaSbSdSiSoSsSt1x", "_Z1fSaSbSdSiSoSsSt1x", nullptr},
    // template parameters of two digits
    {"_ZN1A1fIiEEvT9_", "_ZN1AE", "_ZN1A1fIiEEvT9_", "_ZN1fIiEEvT9_", "_ZN1A1fIEEv3T10"},
    // ABI tags stay
    {"_ZNK4Base4nameB5cxx11Ev", "_ZN4BaseE", "_ZNK4Base4nameB5cxx11Ev", "_ZN4nameB5cxx11Ev",
     nullptr},
    // the member function's qualifiers stay out of every reference to its
    // class, however deep the class's prefix
    {"_ZNK1AIiE1fERKS0_", "_ZN1AIiEE", "_ZNK1AIiE1fERK1AIiE", "_ZN1fERK1AIiE", nullptr},
    {"_ZNK1AIiE1fERKS_", "_ZN1AIiEE", "_ZNK1AIiE1fERK1A", "_ZN1fERK1A", nullptr},
    {"_ZNK1A1B1fERKS0_", "_ZN1A1BE", "_ZNK1A1B1fERKN1A1BE", "_ZN1fERKN1A1BE", nullptr},
    {"_ZNVK1A1fEPS_", "_ZN1AE", "_ZNVK1A1fEP1A", "_ZN1fEP1A", nullptr},
    // references past a substitution with template arguments
    {"_ZNSaIcEC1ERKS_", "_ZNSaIcEE", "_ZNSaIcEC1ERKSaIcE", "_ZNC1ERKSaIcE", nullptr},
    {"_ZNSbIwSt11char_traitsIwESaIwEE4swapERS2_", "_ZNSbIwSt11char_traitsIwESaIwEEE",
     "_ZNSbIwSt11char_traitsIwESaIwEE4swapERSbIwSt11char_traitsIwESaIwEE",
     "_ZN4swapERSbIwSt11char_traitsIwESaIwEE", nullptr},
    // a reference to a class of more than one component is a nested name as a
    // type, one to a class directly in std is not
    {"_ZNK2ns5Shape6equalsERKS0_", "_ZN2ns5ShapeE", "_ZNK2ns5Shape6equalsERKN2ns5ShapeE",
     "_ZN6equalsERKN2ns5ShapeE", nullptr},
    {"_ZNSt9exceptionaSERKS_", "_ZNSt9exceptionE", "_ZNSt9exceptionaSERKSt9exception",
     "_ZNaSERKSt9exception", nullptr},
    // a class directly in std keeps its "St" in a table's name as in a member's
    {"_ZTISt9exception", "_ZNSt9exceptionE", nullptr, nullptr, nullptr},
    {"_ZNKSt9exception4whatEv", "_ZNSt9exceptionE", "_ZNKSt9exception4whatEv", "_ZN4whatEv",
     nullptr},
    {"_ZTISs", "_ZNSsE", nullptr, nullptr, nullptr},
    // local classes: the function's scope, the class and its discriminator,
    // for the table and the members alike; the function keeps its qualifiers
    {"_ZTVZ4mainE1A", "_ZZ4mainE1A", nullptr, nullptr, nullptr},
    {"_ZTVZ4mainE1A_0", "_ZZ4mainE1A_0", nullptr, nullptr, nullptr},
    {"_ZTVZNK1X1fEvE1A", "_ZZNK1X1fEvE1A", nullptr, nullptr, nullptr},
    {"_ZZ4mainEN1A2eqERKS_", "_ZZ4mainE1A", "_ZZ4mainEN1A2eqERKZ4mainE1A", "_ZN2eqERKZ4mainE1A",
     nullptr},
    {"_ZZ4mainEN1A2eqE_0RKS_", "_ZZ4mainE1A_0", "_ZZ4mainEN1A2eqE_0RKZ4mainE1A_0",
     "_ZN2eqERKZ4mainE1A_0", nullptr},
    {"_ZZ4mainEN1A2In1hEv", "_ZZ4mainEN1A2InE", "_ZZ4mainEN1A2In1hEv", "_ZN1hEv", nullptr},
    {"_ZZNK1X1fEvEN1A1gEv", "_ZZNK1X1fEvE1A", "_ZZNK1X1fEvEN1A1gEv", "_ZN1gEv", nullptr},
    // a ref-qualifier stays in the function name; cv-qualifiers do not
    {"_ZNKR1A1fEv", "_ZN1AE", "_ZNKR1A1fEv", "_ZNR1fEv", nullptr},
    {"_ZNO1A1fEv", "_ZN1AE", "_ZNO1A1fEv", "_ZNO1fEv", nullptr},
    {"_ZNKR2ns1A1fERKS0_", "_ZN2ns1AE", "_ZNKR2ns1A1fERKN2ns1AE", "_ZNR1fERKN2ns1AE", nullptr},
};

TEST(SignatureRendering, WorkedExamples) {
    Csignature s;
    for (const Rendered& row : kRendered) {
        SCOPED_TRACE(row.text);
        ASSERT_NE(s.signature(row.text), nullptr);
        EXPECT_STREQ(orNull(s.get_classname()), orNull(row.classname));
        EXPECT_STREQ(orNull(s.get_function()), orNull(row.function));
        EXPECT_STREQ(orNull(s.get_function_name()), orNull(row.function_name));
        EXPECT_STREQ(orNull(s.get_template()), orNull(row.templ));
    }
}

struct Pair {
    const char* one;
    const char* two;
    int same_class;
    int same_function;
    int same_function_name;
};

const Pair kPairs[] = {
    {"_ZN1A1fEv", "_ZNK1B1fEv", 0, 0, 1},
    {"_ZN1A1fEv", "_ZN1A1fEi", 1, 0, 0},
    {"_ZN1A1fEv", "_ZTV1A", 1, 0, 0},
    {"_ZN1A1B1fEv", "_ZTVN1A1BE", 1, 0, 0},
    {"_ZN1AIiE1fEv", "_ZTV1AIiE", 1, 0, 0},
    {"_ZN1AIiE1fEv", "_ZTI1AIiE", 1, 0, 0},
    {"_ZN1AIcE1fEv", "_ZTV1AIiE", 0, 0, 0},
    {"_Z1fv", "_Z1fv", 0, 1, 1},
    {"_ZTV1A", "_ZTI1A", 1, 0, 0},
    {"_ZNK1A1fERKS_", "_ZNK1B1fERK1A", 0, 0, 1},
    {"_ZNK1AIiE1fERKS0_", "_ZNK1B1fERK1AIiE", 0, 0, 1},
    {"_ZNK4Base4nameB5cxx11Ev", "_ZNK7Derived4nameB5cxx11Ev", 0, 0, 1},
    {"_ZNK4Base4nameB5cxx11Ev", "_ZNK7Derived4nameEv", 0, 0, 0},
    {"_ZN1A1fEPKcS1_", "_ZN1A1fEPKcPKc", 1, 1, 1},
    {"main", "main", 0, 1, 1},
    {"_ZGVZ1fvE1x", "_ZGVZ1fvE1x", 0, 0, 0},
    // overriders whose parameters name a namespaced base with and without a
    // back reference
    {"_ZNK2ns5Shape6equalsERKS0_", "_ZNK2ns6Circle6equalsERKNS_5ShapeE", 0, 0, 1},
    {"_ZNK2ns5Shape6equalsERKS0_", "_ZNK2ns6Circle6equalsERKS0_", 0, 0, 0},
    {"_ZN2ns5Shape2In1hERKS1_RKS0_", "_ZN2ns7Derived1hERKNS_5Shape2InERKNS_5ShapeE", 0, 0, 1},
    // a class directly in std
    {"_ZTISt9exception", "_ZNKSt9exception4whatEv", 1, 0, 0},
    {"_ZTVSt9exception", "_ZTV9exception", 0, 0, 0},
    // local classes: a table and its own class's members, not a namesake's
    {"_ZTVZ4mainE1A", "_ZZ4mainEN1A1fEv", 1, 0, 0},
    {"_ZTVZ4mainE1A_0", "_ZZ4mainEN1A2eqE_0RKS_", 1, 0, 0},
    {"_ZTVZ4mainE1A", "_ZZ4mainEN1A2eqE_0RKS_", 0, 0, 0},
    {"_ZTVZ4mainE1A", "_ZTV1A", 0, 0, 0},
    {"_ZTVZ4mainE1A", "_ZN4main1fEv", 0, 0, 0},
    {"_ZTVZ4mainEN1A2InE", "_ZZ4mainEN1A2In1hEv", 1, 0, 0},
    {"_ZTVZNK1X1fEvE1A", "_ZZNK1X1fEvEN1A1gERKS0_", 1, 0, 0},
    {"_ZTVZNK1X1fEvE1A", "_ZZN1X1fEvEN1A1gERKS0_", 0, 0, 0},
    {"_ZZ4mainEN1A2eqERKS_", "_ZZ4mainEN1B2eqERKZ4mainE1A", 0, 0, 1},
    {"_ZZ4mainEN1A2eqERKS_", "_ZZ4mainEN1A2neERKS_", 1, 0, 0},
    {"_ZZ4mainEN1A1fEZ4mainENS_2InERKS_", "_ZZ4mainEN1B1fEZ4mainEN1A2InERKS0_", 0, 0, 1},
    // ref-qualified overriders match their own kind only
    {"_ZNR2ns5Shape1fEv", "_ZNR2ns6Circle1fEv", 0, 0, 1},
    {"_ZNO2ns5Shape1fEv", "_ZNO2ns6Circle1fEv", 0, 0, 1},
    {"_ZNKR2ns5Shape1gEv", "_ZNKR2ns6Circle1gEv", 0, 0, 1},
    {"_ZNR2ns5Shape1fEv", "_ZNO2ns6Circle1fEv", 0, 0, 0},
    {"_ZNR2ns5Shape1fEv", "_ZN2ns6Circle1fEv", 0, 0, 0},
};

TEST(SignatureRendering, Comparisons) {
    Csignature one;
    Csignature two;
    for (const Pair& row : kPairs) {
        SCOPED_TRACE(std::string(row.one) + " / " + row.two);
        ASSERT_NE(one.signature(row.one), nullptr);
        ASSERT_NE(two.signature(row.two), nullptr);
        EXPECT_EQ(one.same_class(&two), row.same_class);
        EXPECT_EQ(one.same_function(&two), row.same_function);
        EXPECT_EQ(one.same_function_name(&two), row.same_function_name);
        EXPECT_EQ(two.same_class(&one), row.same_class);
        EXPECT_EQ(two.same_function_name(&one), row.same_function_name);
    }
}

// A name and the same name written out in full, without any back reference
// (standard abbreviations such as "St" and "Sa" stay). Both must render alike,
// or an overrider abbreviated differently from its base would be missed.
// Names whose renderings kRendered spells out are not repeated here.
struct WrittenOut {
    const char* abbreviated;
    const char* full;
};

const WrittenOut kWrittenOut[] = {
    // a member's parameter of its own namespaced class, or of an enclosing one
    {"_ZN2ns5Shape2In1hERKS1_RKS0_", "_ZN2ns5Shape2In1hERKN2ns5Shape2InERKN2ns5ShapeE"},
    {"_ZN2ns1fERKNS_1AES2_", "_ZN2ns1fERKN2ns1AERKN2ns1AE"},
    // a class type used again as the prefix of a nested name
    {"_ZN1X1gEN2N11A1BENS2_1CE", "_ZN1X1gEN2N11A1BEN2N11A1B1CE"},
    {"_ZN1X1hEN2N11A1B1CES2_", "_ZN1X1hEN2N11A1B1CEN2N11A1BE"},
    // templates: class instances, a template prefix with new arguments,
    // member and function templates
    {"_ZN2ns3BoxIiE3putERKS1_i", "_ZN2ns3BoxIiE3putERKN2ns3BoxIiEEi"},
    {"_ZN2ns3BoxIiE1fENS0_IcEE", "_ZN2ns3BoxIiE1fEN2ns3BoxIcEE"},
    {"_ZN3BoxIiE1fES_IcE", "_ZN3BoxIiE1fE3BoxIcE"},
    {"_ZN2ns1AIiE1fERKNS_1BIS1_EE", "_ZN2ns1AIiE1fERKN2ns1BIN2ns1AIiEEEE"},
    {"_ZN2ns1A4copyIiEEvRKS0_T_", "_ZN2ns1A4copyIiEEvRKN2ns1AET_"},
    {"_ZN2ns4swapINS_1AEEEvRT_S3_", "_ZN2ns4swapIN2ns1AEEEvRT_RT_"},
    // std: a class directly in std stays unscoped, a class nested in one does not
    {"_ZNSt6vectorIiSaIiEEaSERKS1_", "_ZNSt6vectorIiSaIiEEaSERKSt6vectorIiSaIiEE"},
    {"_ZNSt6vectorIiSaIiEE8iteratorC1ERKS2_",
     "_ZNSt6vectorIiSaIiEE8iteratorC1ERKNSt6vectorIiSaIiEE8iteratorE"},
    {"_ZNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEE4swapERS4_",
     "_ZNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEE4swap"
     "ERNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE"},
    {"_ZNSs4_RepC1ERKS_", "_ZNSs4_RepC1ERKNSs4_RepE"},
    // qualifiers, pointers to members and function types
    {"_ZNVK2ns1A1fEMS0_FvvE", "_ZNVK2ns1A1fEMN2ns1AEFvvE"},
    {"_ZN2ns1A1fEMS0_KFvvE", "_ZN2ns1A1fEMN2ns1AEKFvvE"},
    {"_ZN2ns1A1fEMS0_i", "_ZN2ns1A1fEMN2ns1AEi"},
    {"_ZN2ns1A1fEPFvRKS0_E", "_ZN2ns1A1fEPFvRKN2ns1AEE"},
    {"_ZNO2ns1A1fEOS0_", "_ZNO2ns1A1fEON2ns1AE"},
    // local classes: the function's scope and the discriminator go with the class
    {"_ZZ4mainEN1A1fEZ4mainENS_2InEZ4mainENS0_4DeepE",
     "_ZZ4mainEN1A1fEZ4mainEN1A2InEZ4mainEN1A2In4DeepE"},
    {"_ZZ4mainEN1A1kEZ4mainENS_2In4DeepES0_", "_ZZ4mainEN1A1kEZ4mainEN1A2In4DeepEZ4mainEN1A2InE"},
    {"_ZZNK1X1fEvEN1A1gERKS0_", "_ZZNK1X1fEvEN1A1gERKZNK1X1fEvE1A"},
    {"_ZZ4mainEN1B1fE_0Z4mainEN1A2InE_0RKS0_", "_ZZ4mainEN1B1fE_0Z4mainEN1A2InE_0RKZ4mainE1A_0"},
    // special names
    {"_ZTIN2ns3BoxINS_1AEEE", "_ZTIN2ns3BoxIN2ns1AEEE"},
    {"_ZTIN2ns1AIS0_EE", "_ZTIN2ns1AIN2ns1AEEE"},
    {"_ZTVN2ns1AINS_1BIiEES2_EE", "_ZTVN2ns1AIN2ns1BIiEEN2ns1BIiEEEE"},
};

bool has_back_reference(const Csignature_node* nodeP) {
    if (nodeP->m_type == SIGNATURE_substitution)
        return nodeP->m_childP != nullptr;
    for (const Csignature_node* childP = nodeP->m_childP; childP; childP = childP->m_siblingP)
        if (has_back_reference(childP))
            return true;
    return false;
}

// Every rendering of the abbreviated name equals that of the full one, and
// the function rendering is the full name itself.
void expect_renders_as_written_out(const char* abbreviatedP, const char* fullP) {
    SCOPED_TRACE(std::string(abbreviatedP) + " / " + fullP);
    Csignature abbreviated;
    Csignature full;
    ASSERT_NE(abbreviated.signature(abbreviatedP), nullptr);
    ASSERT_NE(full.signature(fullP), nullptr);
    ASSERT_TRUE(has_back_reference(abbreviated.m_nodeP));
    ASSERT_FALSE(has_back_reference(full.m_nodeP));
    EXPECT_STREQ(orNull(abbreviated.get_classname()), orNull(full.get_classname()));
    EXPECT_STREQ(orNull(abbreviated.get_template()), orNull(full.get_template()));
    EXPECT_STREQ(orNull(abbreviated.get_function()), orNull(full.get_function()));
    EXPECT_STREQ(orNull(abbreviated.get_function_name()), orNull(full.get_function_name()));
    if (full.get_function() != nullptr) {
        EXPECT_STREQ(abbreviated.get_function(), fullP);
    }
}

TEST(SignatureRendering, NamesRenderAsIfWrittenOutInFull) {
    for (const WrittenOut& row : kWrittenOut)
        expect_renders_as_written_out(row.abbreviated, row.full);
}

TEST(SignatureRendering, RenderingsAndComparisonsFollowTheLatestParse) {
    Csignature s;
    EXPECT_EQ(s.same_class(&s), 0); // no tree yet
    EXPECT_EQ(s.get_function(), nullptr);
    ASSERT_NE(s.signature("_ZN1A1fEv"), nullptr);
    EXPECT_EQ(s.get_function(), s.get_function());
    EXPECT_EQ(s.get_template(), nullptr);
    EXPECT_EQ(s.get_template(), nullptr);
    EXPECT_EQ(s.same_class(&s), 1);
    EXPECT_EQ(s.same_class(nullptr), 0);
    ASSERT_NE(s.signature("_Z1fv"), nullptr);
    EXPECT_STREQ(s.get_function(), "_Z1fv");
    EXPECT_EQ(s.same_class(&s), 0);
    EXPECT_EQ(s.same_function(&s), 1);
    ASSERT_EQ(s.signature("_ZN1B"), nullptr);
    EXPECT_EQ(s.get_function(), nullptr);
}

// ------------------------------------------------------------ hostile names

TEST(SignatureHostile, DeepNestingFailsInsteadOfExhaustingTheStack) {
    const int n = 100000;
    Csignature s;
    EXPECT_NE(s.signature(("_Z1f" + std::string(n, 'K') + "i").c_str()), nullptr); // one node
    for (const std::string& text :
         {"_Z1f" + std::string(n, 'P') + "i", "_Z1fIX" + repeat("ng", n) + "Li1EEEvv",
          "_Z1fI" + repeat("1AI", n) + "i" + std::string(n, 'E') + "Ev", "_Z1f" + repeat("Ang", n),
          "_ZN" + repeat("1A", n) + "1fEv", repeat("_ZZ", n), "_Z1f" + std::string(n, 'F') + "v"})
        EXPECT_EQ(s.signature(text.c_str()), nullptr) << text.substr(0, 12);
}

TEST(SignatureHostile, NestingWellBelowTheBoundParsesAndRenders) {
    std::string pointers = "_ZN1A1fE" + std::string(900, 'P') + "i";
    std::string components = "_ZN" + repeat("1A", 900) + "E";
    Csignature s;
    ASSERT_NE(s.signature(pointers.c_str()), nullptr);
    EXPECT_STREQ(s.get_function_name(), ("_ZN1fE" + std::string(900, 'P') + "i").c_str());
    ASSERT_NE(s.signature(components.c_str()), nullptr);
    EXPECT_EQ(s.dictionary_count(), 899);
    EXPECT_STREQ(s.get_function(), components.c_str());
    EXPECT_EQ(strlen(s.get_classname()), 3 + 899 * 2 + 1);
}

TEST(SignatureHostile, WideNamesParse) {
    // 100000 parameters parse; the rendering of this many passes the cap.
    std::string parameters = "_Z1f" + std::string(100000, 'i');
    Csignature s;
    ASSERT_NE(s.signature(parameters.c_str()), nullptr);
    EXPECT_EQ(s.node_count(), 10 + 100000);
    EXPECT_EQ(s.get_function(), nullptr);
    // Just below the cap the rendering exists.
    parameters.resize(SIGNATURE_RENDERING_MAX - 2);
    ASSERT_NE(s.signature(parameters.c_str()), nullptr);
    ASSERT_NE(s.get_function(), nullptr);
    EXPECT_TRUE(s.get_function() == parameters);
    EXPECT_EQ(s.m_function.m_max, SIGNATURE_RENDERING_MAX);
    parameters += "i";
    ASSERT_NE(s.signature(parameters.c_str()), nullptr);
    EXPECT_EQ(s.get_function(), nullptr);
}

TEST(SignatureHostile, ExponentialRenderingsAreCappedAndAbsent) {
    // Each function type holds the one before twice: 2^40 copies of "Pi".
    std::string text = "_ZN1A1fEPi";
    for (int i = 0; i < 40; ++i)
        text += "Fv" + seq(i + 1) + seq(i + 1) + "E";
    Csignature s;
    ASSERT_NE(s.signature(text.c_str()), nullptr);
    EXPECT_EQ(s.get_function(), nullptr);
    EXPECT_EQ(s.get_function_name(), nullptr);
    EXPECT_EQ(s.m_function.m_lth, -2);
    EXPECT_LE(s.m_function.m_max, SIGNATURE_RENDERING_MAX);
    EXPECT_STREQ(s.get_classname(), "_ZN1AE");
    EXPECT_EQ(s.same_function(&s), 0);
}

TEST(SignatureHostile, LongChainsOfReferencesEndWithoutExhaustingTheStack) {
    // Each "KS<n>_" refers to the one before; in class-name mode the
    // qualifiers render as nothing, so the chain adds no text.
    std::string text = "_ZN1AIKi";
    for (int i = 0; i < 20000; ++i)
        text += "K" + seq(i + 1);
    text += "E1fEv";
    Csignature s;
    ASSERT_NE(s.signature(text.c_str()), nullptr);
    EXPECT_EQ(s.get_classname(), nullptr);
    EXPECT_EQ(s.get_function(), nullptr);
}

// References that render as types walk the prefix they refer to (to count
// its components) and its parents (to find a function it is local to); many
// references to a deep prefix must end within the rendering's bounds.
TEST(SignatureHostile, ManyReferencesToADeepLocalPrefixEndCleanly) {
    std::string components = repeat("1A", 900);
    // The innermost prefix "1A", and the class itself, 900 components long.
    for (const std::string& reference : {seq(0), seq(899)}) {
        SCOPED_TRACE(reference);
        std::string text = "_ZZ1fvEN" + components + "1gE";
        for (int i = 0; i < 20000; ++i)
            text += "P" + reference;
        Csignature s;
        ASSERT_NE(s.signature(text.c_str()), nullptr);
        EXPECT_EQ(s.get_function(), nullptr);
        EXPECT_EQ(s.get_function_name(), nullptr);
        EXPECT_EQ(strlen(s.get_classname()), strlen("_ZZ1fvENE") + 900 * 2);
    }
}

// A class local to a member function of a class local to a member function,
// and so on: every level's scope renders in full, the innermost reference
// included, however deep the chain.
TEST(SignatureHostile, LocalClassesNestedInEachOtherRender) {
    std::string text = "Z1fvEN1A1gERKS_";
    std::string full = "Z1fvEN1A1gERKZ1fvE1A";
    for (int i = 1; i < 200; ++i) {
        text = "Z" + text + "EN1A1gEv";
        full = "Z" + full + "EN1A1gEv";
    }
    std::string outer = full.substr(1, full.size() - strlen("ZEN1A1gEv"));
    text = "_Z" + text;
    full = "_Z" + full;
    Csignature s;
    ASSERT_NE(s.signature(text.c_str()), nullptr);
    EXPECT_STREQ(s.get_function(), full.c_str());
    EXPECT_STREQ(s.get_function_name(), "_ZN1gEv");
    EXPECT_STREQ(s.get_classname(), ("_ZZ" + outer + "E1A").c_str());
}

// Random edits of valid names: nothing may crash, and what parses must be a
// well-formed tree that renders.
TEST(SignatureHostile, MutatedNamesFailOrParseCleanly) {
    const char alphabet[] = "_0123456789ABCDEFGIJKLMNOPRSTUVXYZabcdefghijklmnopqrstuvwxyz";
    unsigned seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7fff;
    };
    Csignature s;
    Csignature other;
    ASSERT_NE(other.signature("_ZN1A1fEv"), nullptr);
    int parsed = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string text = kAccepted[next() % (sizeof kAccepted / sizeof kAccepted[0])].text;
        int edits = 1 + next() % 3;
        for (int e = 0; e < edits; ++e) {
            size_t at = text.empty() ? 0 : next() % (text.size() + 1);
            char c = alphabet[next() % (sizeof alphabet - 1)];
            switch (next() % 3) {
            case 0:
                text.insert(at, 1, c);
                break;
            case 1:
                if (at < text.size())
                    text[at] = c;
                break;
            default:
                if (at < text.size())
                    text.erase(at, 1);
            }
        }
        auto textP = exact_copy(text);
        if (s.signature(textP.get()) == nullptr)
            continue;
        ++parsed;
        check_tree(s.m_nodeP);
        s.get_classname();
        s.get_template();
        s.get_function();
        s.get_function_name();
        s.same_class(&other);
        s.same_function_name(&other);
        dump_text(s);
    }
    EXPECT_GT(parsed, 1000);
}

} // namespace
