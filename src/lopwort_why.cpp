// The answers to --why. The search recorded, for every entity it reached,
// the step that reached it first; walked back from a function, the steps
// give a chain from a root, shortest because the search went breadth first.
// Functions merged as duplicates are answered through the one they were
// merged into.
#include "lopwort_why.h"

#include "EntityClass.h"
#include "EntityInstance.h"
#include "RelationClass.h"
#include "RelationInstance.h"
#include "lopwort_analysis.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

bool isFunction(CEntityInstance* eP) {
    const char* typeP = eP->getType();
    return strcmp(typeP, "GF") == 0 || strcmp(typeP, "LF") == 0 || strcmp(typeP, "VF") == 0;
}

// A label as the facts may quote it: "name" or name. With lastPart, a
// qualified label matches its last component too: "area" names
// "Square::area".
bool sameText(const char* textP, const char* nameP, bool lastPart = false) {
    if (textP == nullptr)
        return false;
    std::string_view text = unquoted(textP), name = nameP;
    if (name.size() == text.size())
        return text == name;
    return lastPart && name.size() + 2 < text.size() &&
           text.substr(text.size() - name.size() - 2) == "::" + std::string(name);
}

bool namesFileLine(CEntityInstance* eP, const char* nameP) {
    const char* colonP = strrchr(nameP, ':');
    if (colonP == nullptr || colonP == nameP || colonP[1] == '\0' || eP->m_lineno == NO_LINENO ||
        eP->m_fullpathP == nullptr)
        return false;
    for (const char* p = colonP + 1; *p; ++p)
        if (*p < '0' || *p > '9')
            return false;
    if (strtol(colonP + 1, nullptr, 10) != eP->m_lineno)
        return false;
    size_t fileLth = static_cast<size_t>(colonP - nameP), pathLth = strlen(eP->m_fullpathP);
    if (fileLth > pathLth || strncmp(eP->m_fullpathP + pathLth - fileLth, nameP, fileLth) != 0)
        return false;
    return fileLth == pathLth || nameP[0] == '/' || eP->m_fullpathP[pathLth - fileLth - 1] == '/';
}

// The function a duplicate was merged into: the live one on the ordered
// list with its path, line, class and label.
CEntityInstance* survivorOf(CEntityInstance* eP) {
    if (eP->m_visited != 2)
        return eP;
    for (CEntityInstance* lP = g_headP; lP; lP = lP->m_nextInOrderP)
        if (lP->m_visited != 2 && lP->m_lineno == eP->m_lineno && same(lP, eP) &&
            lP->m_fullpathP != nullptr && eP->m_fullpathP != nullptr &&
            strcmp(lP->m_fullpathP, eP->m_fullpathP) == 0)
            return lP;
    return nullptr;
}

void printEntity(FILE* outP, CEntityInstance* eP) {
    const char* labelP = eP->getLabel();
    fprintf(outP, "(%s) %s", eP->getType(), labelP != nullptr ? labelP : eP->getId());
    if (eP->m_fullpathP != nullptr && eP->m_fullpathP[0] != '\0') {
        fprintf(outP, " %s", eP->m_fullpathP);
        if (eP->m_lineno != NO_LINENO)
            fprintf(outP, ":%d", eP->m_lineno);
    }
}

void printChain(FILE* outP, CEntityInstance* targetP, const CReachRecord& record) {
    std::vector<std::pair<CEntityInstance*, const CReachStep*>> chain;
    for (CEntityInstance* eP = targetP; eP != nullptr;) {
        const CReachStep* stepP = record.stepTo(eP);
        if (stepP == nullptr)
            break; // reached before the record began: cannot happen
        chain.push_back({eP, stepP});
        eP = stepP->kind == CReachStep::Root ? nullptr : stepP->fromP;
    }
    for (size_t i = chain.size(); i-- > 0;) {
        const CReachStep& step = *chain[i].second;
        fputc('\t', outP);
        printEntity(outP, chain[i].first);
        switch (step.kind) {
        case CReachStep::Root:
            fputs(" [root]\n", outP);
            break;
        case CReachStep::Use:
            fprintf(outP, " [%s]\n", step.relP->getRelationClass()->getId());
            break;
        case CReachStep::Address:
            fputs(" [owner of the address]\n", outP);
            break;
        case CReachStep::Virtual:
            fputs(" [virtual call of ", outP);
            printEntity(outP, step.fromP);
            if (step.tableP != nullptr) {
                fputs(", overrider in the table of ", outP);
                printEntity(outP, step.tableP);
            }
            fputs("]\n", outP);
            break;
        }
    }
}

} // namespace

std::string_view unquoted(const char* textP) {
    std::string_view text = textP;
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        return text.substr(1, text.size() - 2);
    return text;
}

bool names_function(CEntityInstance* eP, const char* nameP) {
    // An id may carry its unit as a prefix ("main.cpp::_ZL4helpv").
    return sameText(eP->getLabel(), nameP, true) || sameText(eP->getId(), nameP, true) ||
           sameText(eP->getAttribute("mangle"), nameP) || namesFileLine(eP, nameP);
}

void explain_why(CEntityClass* classListP, const std::vector<std::string>& names,
                 const CReachRecord& record, FILE* outP) {
    for (const std::string& name : names) {
        // The functions named, grouped by the one each stands for after
        // duplicates were merged, in the order the facts list them.
        std::vector<std::pair<CEntityInstance*, std::vector<CEntityInstance*>>> found;
        for (CEntityClass* classP = classListP; classP; classP = classP->m_nextP)
            for (CEntityInstance* eP = classP->m_entityInstancesP; eP; eP = eP->m_nextInClassP) {
                if (!isFunction(eP) || !names_function(eP, name.c_str()))
                    continue;
                CEntityInstance* survivorP = survivorOf(eP);
                if (survivorP == nullptr)
                    continue;
                size_t i = 0;
                while (i < found.size() && found[i].first != survivorP)
                    ++i;
                if (i == found.size())
                    found.push_back({survivorP, {}});
                if (eP != survivorP)
                    found[i].second.push_back(eP);
            }
        if (found.empty())
            fprintf(outP, "why %s: no function matches\n", name.c_str());
        // In the report's order: by path, then line.
        std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
            const char* aP = a.first->m_fullpathP ? a.first->m_fullpathP : "";
            const char* bP = b.first->m_fullpathP ? b.first->m_fullpathP : "";
            int order = strcmp(aP, bP);
            return order != 0 ? order < 0 : a.first->m_lineno < b.first->m_lineno;
        });
        for (const auto& [survivorP, merged] : found) {
            fprintf(outP, "why %s: ", name.c_str());
            printEntity(outP, survivorP);
            bool live = survivorP->m_visited == 1 && record.stepTo(survivorP) != nullptr;
            fputs(live ? " is live\n" : " is dead\n", outP);
            if (live)
                printChain(outP, survivorP, record);
            for (CEntityInstance* eP : merged) {
                fputc('\t', outP);
                printEntity(outP, eP);
                fprintf(outP, " [%s, merged into the above as its duplicate]\n", eP->getId());
            }
        }
    }
}
