#pragma once
// A device with one simulated scale keeping PLU and message records, and
// every input of an extended PLU record, each a distinct value.

#include <string>

#include "../record_test_util.h"

namespace record_test {

class product_test : public scale_test<qv_sim::product_store> {
protected:
    explicit product_test(const char* ip = "127.0.0.50") : scale_test(ip, qv_sim::add_product_replies) {}

    void set_extended_inputs(bool utf8)
    {
        if (utf8)
            set({{P::NameFirst, U("Сыр \"Российский\" весовой, 45% жирности")},
                 {P::NameSecond, U("Cheese")},
                 {P::ROSTEST, U("РСТ-77")}});
        else
            set({{P::NameFirst, L"Сыр Российский"}, {P::NameSecond, L"Cheese"}, {P::ROSTEST, L"РС77"}});
        // clang-format off
        set({{P::PLUNumber, 513}, {P::ItemCode, 9876543}, {P::Price, 1234567}, {P::BCFormat, 6}, {P::LabelFormat, 3},
             {P::ShelfLife, 365}, {P::Tare, 15000}, {P::GroupCode, 9999}, {P::MessageNumber, 4242}, {P::GoodsType, 5},
             {P::ShelfLifeDate, B({0x1F, 0x0C, 0x63})}});
        // clang-format on
    }
    bytes in_bytes(P p)
    {
        bytes v;
        d.get_bytes_array_param(p, d.input_params, v, false);
        return v;
    }
};

}  // namespace record_test
