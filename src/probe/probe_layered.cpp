// Probes of layered media: the stack's TE and TM waves at the receiver and
// the layered field columns at given lambda, for a stack given by its
// relative permittivities and permeabilities and its interface heights.
#include <stdexcept>
#include <string>

#include "../spectral/guided_modes.hpp"
#include "../spectral/layered_channels.hpp"
#include "probe_common.hpp"

namespace nia::probe {

namespace {

spectral::layer_stack make_stack(double k0, const complex_array& eps_r, const complex_array& mu_r,
                                 const real_array& interfaces) {
    const auto n = eps_r.size();
    if (n < 1 || n > spectral::max_layers || mu_r.size() != n || interfaces.size() + 1 != n) {
        throw std::invalid_argument("need 1 to 64 media, as many mu_r, one interface fewer");
    }
    spectral::layer_stack st;
    st.n = static_cast<int>(n);
    for (int j = 0; j < st.n; ++j) {
        const complex e = eps_r.data()[j], u = mu_r.data()[j];
        complex k = k0 * std::sqrt(e * u);
        if (k.imag() > 0.0 || (k.imag() == 0.0 && k.real() < 0.0)) k = -k;
        st.k[j] = k;
        st.inv_eps[j] = 1.0 / e;
        st.inv_mu[j] = 1.0 / u;
        st.top[j] = j == 0 ? INFINITY : interfaces.data()[j - 1];
        st.bottom[j] = j == st.n - 1 ? -INFINITY : interfaces.data()[j];
    }
    return st;
}

}  // namespace

void register_layered_probes(py::module_& m) {
    m.def(
        "layered_columns",
        [](const std::string& source, double k0, complex_array eps_r, complex_array mu_r,
           real_array interfaces, double z, double zp, complex_array lam) {
            const spectral::layer_stack st = make_stack(k0, eps_r, mu_r, interfaces);
            const spectral::layered_record q = spectral::make_layered_record(st, k0, z, zp);
            const bool electric = source == "electric";
            if (!electric && source != "magnetic") throw std::invalid_argument("source");
            constexpr int size = spectral::layered_electric_channels::size;
            py::array_t<complex> out(
                {static_cast<py::ssize_t>(lam.size()), static_cast<py::ssize_t>(size)});
            complex* o = out.mutable_data();
            for (py::ssize_t i = 0; i < lam.size(); ++i) {
                if (electric) {
                    spectral::layered_electric_channels::values(q, lam.data()[i], o + i * size);
                } else {
                    spectral::layered_magnetic_channels::values(q, lam.data()[i], o + i * size);
                }
            }
            return py::make_tuple(out, q.point.s, q.point.r);
        },
        py::arg("source"), py::arg("k0"), py::arg("eps_r"), py::arg("mu_r"), py::arg("interfaces"),
        py::arg("z"), py::arg("zp"), py::arg("lam"),
        "The eleven layered field columns of source at each lam (shape (len(lam), 11)), with "
        "the layers of the source and the receiver -> (columns, s, r).");
    m.def(
        "guided_modes",
        [](double k0, complex_array eps_r, complex_array mu_r, real_array interfaces) {
            spectral::layer_stack st = make_stack(k0, eps_r, mu_r, interfaces);
            spectral::find_guided_modes(st);
            py::array_t<complex> out(static_cast<py::ssize_t>(st.n_guided));
            for (int i = 0; i < st.n_guided; ++i) out.mutable_data()[i] = st.guided[i];
            return out;
        },
        py::arg("k0"), py::arg("eps_r"), py::arg("mu_r"), py::arg("interfaces"),
        "The slow guided waves' poles the stack's tail clears (TM, then TE).");
    m.def(
        "sweeps_no_modes",
        [](double k0, complex_array eps_r, complex_array mu_r, real_array interfaces, double start,
           double step, double reach) {
            const spectral::layer_stack st = make_stack(k0, eps_r, mu_r, interfaces);
            return spectral::sweeps_no_modes(st, start, step, reach);
        },
        py::arg("k0"), py::arg("eps_r"), py::arg("mu_r"), py::arg("interfaces"), py::arg("start"),
        py::arg("step"), py::arg("reach"),
        "Whether no guided mode lies where the short tail's falling ray from start + step would "
        "sweep it, within reach of the axis.");
    m.def(
        "mode_function",
        [](double k0, complex_array eps_r, complex_array mu_r, real_array interfaces,
           const std::string& polarisation, complex lam) {
            const spectral::layer_stack st = make_stack(k0, eps_r, mu_r, interfaces);
            if (polarisation != "te" && polarisation != "tm") {
                throw std::invalid_argument("polarisation");
            }
            const complex* a = polarisation == "te" ? st.inv_mu.data() : st.inv_eps.data();
            return spectral::detail::mode_function(st, a, lam);
        },
        py::arg("k0"), py::arg("eps_r"), py::arg("mu_r"), py::arg("interfaces"),
        py::arg("polarisation"), py::arg("lam"),
        "The stack's characteristic function for 'te' or 'tm' at lam (zero at its modes).");
}

}  // namespace nia::probe
