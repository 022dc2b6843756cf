#include "boot/system_object.h"

#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
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
        ]
    ]
    options: make object! [
        boot: none home: none script: none cache: none thru-cache: none args: none do-arg: none
        debug: none secure: none quiet: false binary-base: 16 decimal-digits: 15 money-digits: 2
        module-paths: [] file-types: none
    ]
])";

}  // namespace

void init() {
    // As the boot data would load: with the collector off.
    collector::Pause boot;
    stack::reset();
    Cell* code = stack::push_slot();
    *code = Cell{TYPE_UNSET, 0, 0, 0};
    lexer::load_block(code, SOURCE);
    interp::eval_whole_block(code, false);
    stack::reset();
}

const Cell* field(std::initializer_list<const char*> path) {
    const Cell* v = context::get_value_ptr(symbol::make("system"), context::global);
    for (const char* name : path) {
        if (!v || type_of(v) != TYPE_OBJECT) return nullptr;
        Cell word = series::named_word(name);
        if (object::find_field(v, word.data2) < 0) return nullptr;
        v = object::field_ptr(v, &word);
    }
    return v;
}

}  // namespace vyx::system_object
