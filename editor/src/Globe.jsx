import React, { useEffect, useRef } from 'react';
import * as THREE from 'three';
import useLitStage from './useLitStage.js';

// The globe on the stage: lit from the upper left, with enough light all round that the night side
// still shows.
function furnishGlobe({ scene, camera, controls }) {
  camera.position.set(0, 0, 3.6);
  const sun = new THREE.DirectionalLight(0xffffff, 2.2);
  sun.position.set(-3, 2, 4);
  scene.add(sun, new THREE.AmbientLight(0xffffff, 0.9));
  const material = new THREE.MeshLambertMaterial({ color: 0xffffff });
  const globe = new THREE.Mesh(new THREE.SphereGeometry(1, 128, 64), material);
  globe.rotation.y = -Math.PI / 2;
  scene.add(globe);
  controls.minDistance = 1.4;
  controls.maxDistance = 8;
  const dispose = () => {
    material.map?.dispose();
    material.dispose();
    globe.geometry.dispose();
  };
  return { material, drawn: 0, dispose };
}

// The sphere's map as the texture of a lit globe, to turn with the mouse (and zoom with the wheel).
// The flat map runs from longitude -180° at its left edge to 180° at its right, latitude 90° at its
// top; three.js wraps a texture the same way round a sphere, seen from outside, so the map is not
// mirrored. Turned a quarter about the pole, longitude 0 faces the viewer first.
export default function Globe({ url, size }) {
  const canvas = useRef(null);
  const { stage, failure } = useLitStage(canvas, size, furnishGlobe);

  useEffect(() => {
    const w = stage.current;
    if (!w || !url) return undefined;
    let alive = true;
    new THREE.TextureLoader().load(url, (texture) => {
      if (!alive || stage.current !== w) return texture.dispose();
      // The picture's bytes are shown as they are, as the flat map shows them: sRGB in, sRGB out.
      texture.colorSpace = THREE.SRGBColorSpace;
      texture.anisotropy = w.renderer.capabilities.getMaxAnisotropy();
      w.material.map?.dispose();
      w.material.map = texture;
      w.material.needsUpdate = true;
      w.draw();
      canvas.current.dataset.drawn = String(++w.drawn);
    });
    return () => {
      alive = false;
    };
  }, [url]);

  if (failure) return <div className="globe-failure">no globe: this browser has no WebGL ({failure})</div>;
  return (
    <canvas
      ref={canvas}
      className="globe"
      data-testid="globe"
      style={{ width: size, height: size }}
      title="Drag to turn the globe, the wheel to come closer"
    />
  );
}
