"""Type stubs of kvsky, the sky from Python (the module is built from python/kvsky.cpp)."""

import datetime
import os
from typing import Literal, TypedDict, Union

import numpy as np
import numpy.typing as npt

__version__: str
MODELS: tuple[str, str]
MIN_WIDTH: int
MAX_WIDTH: int
EXR_WHITE_LUMINANCE: float
HDR_UNIT: float

Moment = Union[str, datetime.datetime]
PathLike = Union[str, os.PathLike[str]]

class SunPosition(TypedDict):
    zenith: float
    azimuth: float
    compass_azimuth: float
    true_zenith: float
    declination: float
    equation_of_time: float

def sun_position(latitude: float, longitude: float, time: Moment) -> SunPosition:
    """Where the sun stands seen from a place at a moment, whether or not it is up."""

def check_parameters(
    model: str = "preetham",
    turbidity: float = 2.0,
    albedo: float = 0.3,
    altitude: float = 0.0,
    zenith: float = 0.0,
    azimuth: float = 0.0,
) -> None:
    """Raises the ValueError Sky and set_sun would raise for these values, without making a sky."""

class Sky:
    """A sky of one model and its parameters, with its sun (made overhead)."""

    def __init__(
        self,
        model: Literal["preetham", "physical"] = "preetham",
        turbidity: float = 2.0,
        albedo: float = 0.3,
        altitude: float = 0.0,
        sky_brightness: float = 0.0,
    ) -> None: ...
    @property
    def model(self) -> str: ...
    @property
    def turbidity(self) -> float: ...
    @property
    def albedo(self) -> float: ...
    @property
    def altitude(self) -> float: ...
    @property
    def sky_brightness(self) -> float: ...
    @property
    def max_sun_zenith(self) -> float: ...
    def set_sun(self, zenith: float, azimuth: float) -> None:
        """Zenith angle and the program's azimuth (from north towards west), degrees."""
    def set_sun_at(self, latitude: float, longitude: float, time: Moment) -> SunPosition:
        """The sun as seen from a place at a moment; ValueError when it is too low for the model."""
    @property
    def sun(self) -> tuple[float, float]: ...
    @property
    def sun_direction(self) -> npt.NDArray[np.float64]: ...
    @property
    def sun_radiance(self) -> npt.NDArray[np.float32]: ...
    @property
    def sun_illuminance(self) -> float: ...
    @property
    def horizontal_illuminance(self) -> tuple[float, float]: ...
    def radiance(self, directions: npt.ArrayLike, threads: int = 0) -> npt.NDArray[np.float32]:
        """(N, 3) directions to (N, 3) linear Rec. 709 radiance in kcd/m^2, without the sun's disc."""
    def panorama(self, width: int = 2048, threads: int = 2) -> npt.NDArray[np.float32]:
        """The (width / 2, width, 3) panorama the EXR holds: linear Rec. 709 in kcd/m^2."""
    def write_exr(self, path: PathLike, width: int = 2048, threads: int = 2) -> None: ...
    def write_hdr(self, path: PathLike, width: int = 2048, threads: int = 2) -> None: ...
    def write_png(self, path: PathLike, width: int = 2048, exposure: float = 0.1, threads: int = 2) -> None: ...
    def write_gltf(self, path: PathLike, rings: int = 9, exposure: float = 0.1) -> None: ...
