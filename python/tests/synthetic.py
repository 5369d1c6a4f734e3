"""Synthetic specimens with their clean versions, shot noise, and the measures the Wiener tests judge by.

Each maker returns the clean image in mean counts per pixel (`dose` on average); `noisy` draws Poisson counts.
"""

import numpy as np
import scipy.ndimage


def _lattice(shape, spacing, rng):
    """A hexagonal lattice of the given spacing (pixels), at a random angle and phase, in -1..2.1."""
    y, x = np.mgrid[:shape[0], :shape[1]].astype(np.float64)
    angle = rng.uniform(0, np.pi / 3)
    out = np.zeros(shape)
    k = 2 * np.pi / spacing
    beams = [(k * np.cos(angle + a), k * np.sin(angle + a)) for a in (0, np.pi / 3, 2 * np.pi / 3)]
    for kx, ky in beams:
        out += np.cos(kx * x + ky * y + rng.uniform(0, 2 * np.pi))
    return out


def _particles(shape, rng, count, radius):
    """Sharp-edged discs and ellipses of several heights, overlapping as they fall, in 0..1."""
    y, x = np.mgrid[:shape[0], :shape[1]].astype(np.float64)
    out = np.zeros(shape)
    for _ in range(count):
        cy, cx = rng.uniform(0, shape[0]), rng.uniform(0, shape[1])
        ry, rx = radius * rng.uniform(0.5, 1.5, 2)
        turn = rng.uniform(0, np.pi)
        u = (x - cx) * np.cos(turn) + (y - cy) * np.sin(turn)
        v = -(x - cx) * np.sin(turn) + (y - cy) * np.cos(turn)
        inside = (u / rx) ** 2 + (v / ry) ** 2 <= 1
        out[inside] = rng.uniform(0.3, 1.0)
    return out


def pure_lattice(shape, rng, dose=10.0, spacing=7.0):
    return dose * (1 + 0.3 * _lattice(shape, spacing, rng) / 2.1)


def lattice_on_particles(shape, rng, dose=10.0, spacing=7.0):
    particles = _particles(shape, rng, count=max(4, shape[0] * shape[1] // 2500), radius=min(shape) / 9)
    crystal = particles * 0.6 * _lattice(shape, spacing, rng) / 2.1
    return dose * (0.5 + 1.2 * particles + crystal)


def particles(shape, rng, dose=10.0, spacing=None):
    return dose * (0.4 + 1.5 * _particles(shape, rng, count=max(4, shape[0] * shape[1] // 2500),
                                          radius=min(shape) / 9))


def amorphous_film(shape, rng, dose=10.0, spacing=None):
    """A carbon-like film: white noise shaped by a band pass around a few pixels, a weak phase contrast."""
    ky = np.fft.fftfreq(shape[0])[:, None]
    kx = np.fft.fftfreq(shape[1])[None, :]
    k = np.hypot(kx, ky)
    band = np.exp(-((k - 0.08) / 0.05) ** 2)
    field = np.fft.ifft2(np.fft.fft2(rng.standard_normal(shape)) * band).real
    return dose * (1 + 0.2 * field / field.std())


KINDS = {"pure lattice": pure_lattice, "lattice on particles": lattice_on_particles,
         "particles with sharp edges": particles, "amorphous film": amorphous_film}


def noisy(clean, rng):
    return rng.poisson(clean).astype(np.float32)


def snr_db(clean, image):
    """10 log10 of the clean image's variance over the mean square error."""
    return 10 * np.log10(clean.var() / np.mean((np.asarray(image, np.float64) - clean) ** 2))


BLUR_SIGMAS = np.geomspace(0.3, 12, 40)


def best_blur_db(clean, noisy_image):
    """The SNR of the best Gaussian blur, its width chosen with knowledge of the truth."""
    image = noisy_image.astype(np.float64)
    return max(snr_db(clean, scipy.ndimage.gaussian_filter(image, s, mode="reflect")) for s in BLUR_SIGMAS)


def table(shape=(360, 480), seed=1, dose=10.0, spacing=7.0):
    """The README's table: SNR in dB of the noisy input, each mode and the best blur, one row per kind."""
    import zorvan
    rows = ["| image | noisy | `--mode wiener` (default) | `--mode lattice` | best Gaussian blur |",
            "|---|---|---|---|---|"]
    for kind, make in KINDS.items():
        rng = np.random.default_rng(seed)
        clean = make(shape, rng, dose=dose, spacing=spacing)
        image = noisy(clean, rng)
        values = (snr_db(clean, image), snr_db(clean, zorvan.wiener(image)[0]),
                  snr_db(clean, zorvan.wiener(image, mode="lattice")[0]), best_blur_db(clean, image))
        rows.append("| %s | %.1f | %.1f | %.1f | %.1f |" % ((kind,) + values))
    return "\n".join(rows)


if __name__ == "__main__":
    print(table())
