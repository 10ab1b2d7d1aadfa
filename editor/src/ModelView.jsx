import React, { useEffect, useRef } from 'react';
import * as THREE from 'three';
import { GLTFLoader } from 'three/addons/loaders/GLTFLoader.js';
import useLitStage from './useLitStage.js';

// The model's part of the stage: a light from the upper left that turns with the camera, so that the
// side in view is always lit, and a material for both faces (a plane or an open model seen from behind
// still shows its texture).
function furnishModel({ scene, camera }) {
  const sun = new THREE.DirectionalLight(0xffffff, 2.4);
  sun.position.set(-3, 2, 4);
  camera.add(sun);
  scene.add(new THREE.AmbientLight(0xffffff, 0.8));
  const material = new THREE.MeshStandardMaterial({ roughness: 0.85, metalness: 0, side: THREE.DoubleSide });
  // The mesh shown, and the pictures drawn by the material's slot: what the page's tests wait for.
  const own = { material, mesh: null, shown: {} };
  own.dispose = () => {
    material.map?.dispose();
    material.bumpMap?.dispose();
    material.dispose();
    own.mesh?.geometry.dispose();
  };
  return own;
}

// The model's geometry in place of the one shown, the camera framing its bounding sphere.
function showModel(stage, geometry) {
  if (stage.mesh) {
    stage.scene.remove(stage.mesh);
    stage.mesh.geometry.dispose();
  }
  stage.mesh = new THREE.Mesh(geometry, stage.material);
  stage.scene.add(stage.mesh);
  geometry.computeBoundingSphere();
  const { center, radius } = geometry.boundingSphere;
  const { camera, controls } = stage;
  const distance = radius / Math.sin(THREE.MathUtils.degToRad(camera.fov / 2));
  camera.position.copy(center).add(new THREE.Vector3(0.6, 0.5, 1).normalize().multiplyScalar(distance));
  camera.near = distance / 100;
  camera.far = distance * 100;
  camera.updateProjectionMatrix();
  controls.target.copy(center);
  controls.minDistance = radius * 1.05;
  controls.maxDistance = distance * 4;
  controls.update();
}

// The picture `url` in the material's `slot` as glTF places a texture (v down, as the image's rows
// run), or none there without a `url`; `drawn` once it is.
function useSlot(stage, url, slot, colorSpace, drawn) {
  useEffect(() => {
    const s = stage.current;
    if (!s) return undefined;
    let alive = true;
    if (!url) {
      s.material[slot]?.dispose();
      s.material[slot] = null;
      s.material.needsUpdate = true;
      drawn(s);
      return undefined;
    }
    new THREE.TextureLoader().load(url, (texture) => {
      if (!alive || stage.current !== s) return texture.dispose();
      texture.flipY = false;
      texture.colorSpace = colorSpace;
      texture.anisotropy = s.renderer.capabilities.getMaxAnisotropy();
      s.material[slot]?.dispose();
      s.material[slot] = texture;
      s.material.needsUpdate = true;
      s.shown[slot] = url;
      return drawn(s);
    });
    return () => {
      alive = false;
    };
  }, [url]);
}

// A model (a binary glTF file's bytes) with the picture `url` as its texture, lit and turned by the
// mouse, zoomed by the wheel (`glbKey` names the model on the canvas); `reliefUrl`, a picture of real
// values, raises it where they are high (`relief` the height of a value of 1, in the bump map's
// units), lit from the normals it makes.
export default function ModelView({ glb, glbKey, url, reliefUrl, relief, size }) {
  const canvas = useRef(null);
  const { stage, failure, setFailure } = useLitStage(canvas, size, furnishModel);

  // Draws, and says on the canvas what the model is drawn with.
  const drawn = (s) => {
    s.draw();
    if (!s.mesh) return;
    canvas.current.dataset.texture = s.material.map ? s.shown.map : '';
    canvas.current.dataset.relief = s.material.bumpMap ? s.shown.bumpMap : '';
  };

  useEffect(() => {
    const s = stage.current;
    if (!s || !glb) return undefined;
    let alive = true;
    new GLTFLoader().parse(
      glb,
      '',
      (gltf) => {
        if (!alive || stage.current !== s) return;
        let geometry = null;
        gltf.scene.traverse((object) => {
          if (object.isMesh && !geometry) geometry = object.geometry;
        });
        if (!geometry) return setFailure('the model has no mesh');
        showModel(s, geometry);
        canvas.current.dataset.model = glbKey;
        return drawn(s);
      },
      (error) => setFailure(error.message),
    );
    return () => {
      alive = false;
    };
  }, [glb]);

  // The picture's bytes are shown as they are, as the flat picture shows them: sRGB in, sRGB out;
  // heights are data, not colours.
  useSlot(stage, url, 'map', THREE.SRGBColorSpace, drawn);
  useSlot(stage, reliefUrl, 'bumpMap', THREE.NoColorSpace, drawn);

  useEffect(() => {
    const s = stage.current;
    if (!s) return;
    s.material.bumpScale = relief;
    s.draw();
  }, [relief]);

  if (failure) return <div className="model-failure">no 3-D view: {failure}</div>;
  return (
    <canvas
      ref={canvas}
      className="model-3d"
      data-testid="model-3d"
      style={{ width: size, height: size }}
      title="Drag to turn the model, the wheel to come closer"
    />
  );
}
