#include "boot/system_object.h"

#include <string>
#include <utility>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/routine_registry.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"

namespace vyx::system_object {

namespace {

constexpr const char* SOURCE = R"(system: make object! [
    locale: make object! [
        language: none language*: none locale: none locale*: none
        months: ["January" "February" "March" "April" "May" "June" "July" "August" "September"
            "October" "November" "December"]
        days: ["Monday" "Tuesday" "Wednesday" "Thursday" "Friday" "Saturday" "Sunday"]
        currencies: make object! [
            list: [
                AED AFN ALL AMD ANG AOA ARS AUD AWG AZN BAM BBD BDT BTC BGN BHD BIF BMD BND BOB BRL BSD
                BTN BWP BYN BZD CAD CDF CHF CKD CLP CNY COP CRC CUC CUP CVE CZK DJF DKK DOP DZD EGP ERN
                ETB ETH EUR FJD FKP FOK GBP GEL GGP GHS GIP GMD GNF GTQ GYD HKD HNL HRK HTG HUF IDR ILS
                IMP INR IQD IRR ISK JEP JMD JOD JPY KES KGS KHR KID KMF KPW KRW KWD KYD KZT LAK LBP LKR
                LRD LSL LYD MAD MDL MGA MKD MMK MNT MOP MRU MUR MVR MWK MXN MYR MZN NAD NGN NIO NOK NPR
                NZD OMR PAB PEN PGK PHP PKR PLN PND PRB PYG QAR VYX RON RSD RUB RWF SAR SBD SCR SDG SEK
                SGD SHP SLL SLS SOS SRD SSP STN SYP SZL THB TJS TMT TND TOP TRY TTD TVD TWD TZS UAH UGX
                USD UYU UZS VES VND VUV WST CFA XAF XCD XOF CFP XPF YER ZAR ZMW
            ]
            ; The fields stay as they are; the list only grows, by new
            ; three-letter codes, kept in upper case.
            on-change*: func [word old new /local busy] [
                busy: [0]
                if busy/1 = 0 [
                    busy/1: 1
                    set in self word :old
                    busy/1: 0
                    do make error! [type: 'script id: 'protected]
                ]
            ]
            on-deep-change*: func [owner word target action new index part /local busy] [
                busy: [0]
                if busy/1 = 0 [
                    if any [
                        all [action <> 'append action <> 'appended]
                        word! <> type? :new
                        3 <> length? form :new
                        all [action = 'append any [find target :new 255 < length? target]]
                    ] [do make error! [type: 'script id: 'protected]]
                    if action = 'appended [
                        busy/1: 1
                        change back tail target to word! uppercase form :new
                        busy/1: 0
                    ]
                ]
            ]
        ]
    ]
    options: make object! [
        boot: none home: none script: none cache: none thru-cache: none args: none do-arg: none
        debug: none secure: none quiet: false binary-base: 16 decimal-digits: 15 money-digits: 2
        module-paths: [] file-types: none
    ]
    standard: make object! [
        port: make object! [spec: scheme: actor: awake: state: data: extra: none]
        url-parts: make object! [scheme: user-info: host: port: path: target: query: fragment: ref: none]
        scheme: make object! [name: title: info: actor: awake: none]
    ]
    schemes: []
    state: make object! [
        interpreted?: none last-error: none stack-trace: 1 source-files: make block! 4
        GC: make object! [active?: none series-cycles: none nodes-cycles: none]
    ]
])";

}  // namespace

namespace {
// The symbols of the names asked for, by the address of the caller's text;
// emptied at each start-up, whose symbol table is new.
std::vector<std::pair<const char*, int32_t>> names;

int32_t symbol_of(const char* name) {
    for (const auto& [text, id] : names)
        if (text == name) return id;
    int32_t id = symbol::make(name);
    names.emplace_back(name, id);
    return id;
}
}  // namespace

void init() {
    names.clear();
    // As the boot data would load: with the collector off.
    collector::Pause boot;
    stack::reset();
    Cell* code = stack::push_slot();
    *code = Cell{TYPE_UNSET, 0, 0, 0};
    lexer::load_block(code, SOURCE);
    interp::eval_whole_block(code, false);
    stack::reset();
    // Routines registered under system paths go into their fields.
    for (const routines::Entry& e : routines::entries()) {
        if (e.name.rfind("system/", 0) != 0) continue;
        std::vector<std::string> parts;
        for (size_t at = 7, next; at < e.name.size(); at = next + 1) {
            next = e.name.find('/', at);
            if (next == std::string::npos) next = e.name.size();
            parts.push_back(e.name.substr(at, next - at));
        }
        Cell* v = context::get_value_ptr(symbol_of("system"), context::global);
        for (size_t i = 0; v && i + 1 < parts.size(); i++) {
            int32_t at = type_of(v) == TYPE_OBJECT ? object::find_field(v, symbol::make(parts[i])) : -1;
            v = at < 0 ? nullptr : object::value_at(v, uint32_t(at));
        }
        if (!v || type_of(v) != TYPE_OBJECT) continue;
        Cell owner = *v;
        Cell value = *routines::push_routine(e);
        object::put_field(&owner, symbol::make(parts.back()), &value);
        stack::reset();
    }
}

const Cell* field(std::initializer_list<const char*> path) {
    Cell* v = context::get_value_ptr(symbol_of("system"), context::global);
    for (const char* name : path) {
        if (!v || type_of(v) != TYPE_OBJECT) return nullptr;
        int32_t at = object::find_field(v, symbol_of(name));
        if (at < 0) return nullptr;
        v = object::value_at(v, uint32_t(at));
    }
    return v;
}

}  // namespace vyx::system_object
